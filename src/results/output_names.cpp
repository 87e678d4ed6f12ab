#include "results/output_names.h"

#include <cerrno>
#include <vector>

namespace {

constexpr std::size_t kMaxNameBytes = 200;
constexpr std::size_t kMaxExtensionBytes = 16;
// Far more than any real folder needs; bounds the search when names cannot be placed.
constexpr std::size_t kMaxCandidates = 100000;

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The longest prefix of `text` of at most `bytes` bytes that ends at a character boundary.
std::string_view cutAtCharacter(std::string_view text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && isContinuationByte(text[end])) --end;
  return text.substr(0, end);
}

}  // namespace

std::string safeFileName(std::string_view name) {
  if (name.empty()) return "_";
  if (name == ".") return "_";
  if (name == "..") return "__";
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    out += (c == '/' || c == '\\' || u < 0x20 || u == 0x7F) ? '_' : c;
  }
  if (out.size() <= kMaxNameBytes) return out;

  std::string_view whole(out);
  std::string_view extension;
  if (std::size_t dot = whole.rfind('.');
      dot != std::string_view::npos && dot > 0 && whole.size() - dot <= kMaxExtensionBytes) {
    extension = whole.substr(dot);
  }
  std::string_view stem = whole.substr(0, whole.size() - extension.size());
  std::string cut(cutAtCharacter(stem, kMaxNameBytes - extension.size()));
  cut += extension;
  return cut;
}

std::optional<std::string> safeRelativePath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view part = path.substr(start, slash - start);
    const bool last = slash == path.size();
    start = slash + 1;
    if (!part.empty()) {
      parts.push_back(safeFileName(part));
    } else if (last && !parts.empty()) {
      // "Library/" names an entry below Library (a device path "Library/." reaches us so);
      // writing it as "Library" would take the folder's name from every file inside it.
      parts.emplace_back("_");
    }
  }
  if (parts.empty()) return std::nullopt;
  std::string out;
  for (const auto& p : parts) {
    if (!out.empty()) out += '/';
    out += p;
  }
  return out;
}

std::string candidateName(const std::string& name, std::size_t index, std::size_t k) {
  if (k == 0) return name;
  if (k == 1) return std::to_string(index) + "_" + name;
  return std::to_string(index) + "_" + std::to_string(k) + "_" + name;
}

std::optional<std::string> placeUniqueName(const std::string& name, std::size_t index,
                                           const std::function<int(const std::string& name)>& place,
                                           int* error) {
  for (std::size_t k = 0; k < kMaxCandidates; ++k) {
    std::string candidate = candidateName(name, index, k);
    const int result = place(candidate);
    if (result == 0) return candidate;
    if (result != EEXIST) {
      if (error != nullptr) *error = result;
      return std::nullopt;
    }
  }
  if (error != nullptr) *error = EEXIST;
  return std::nullopt;
}
