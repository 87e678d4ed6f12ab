#include "device/backup_tool_output.h"

namespace amd {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<int> BackupToolOutput::percentOf(std::string_view line) {
  std::optional<int> found;
  for (std::size_t at = 0; at < line.size(); ++at) {
    if (line[at] != '%') continue;
    std::size_t start = at;
    while (start > 0 && isDigit(line[start - 1]) && at - start < 4) --start;
    const std::size_t digits = at - start;
    if (digits == 0 || digits > 3) continue;
    if (start > 0 && (isDigit(line[start - 1]) || line[start - 1] == '.')) continue;
    int value = 0;
    for (std::size_t i = start; i < at; ++i) value = value * 10 + (line[i] - '0');
    if (value > 100) continue;
    std::size_t after = at + 1;
    while (after < line.size() && isBlank(line[after])) ++after;
    if (after < line.size() && line[after] == '(') continue;
    found = value;
  }
  return found;
}

std::optional<int> BackupToolOutput::endLine() {
  const std::string_view words = trimmed(line_);
  std::optional<int> percent;
  if (!words.empty()) {
    lastLine_.assign(words);
    percent = percentOf(words);
  }
  line_.clear();
  return percent;
}

std::optional<int> BackupToolOutput::add(std::string_view bytes) {
  std::optional<int> latest;
  for (char c : bytes) {
    if (c == '\n' || c == '\r') {
      if (auto percent = endLine()) latest = percent;
    } else if (line_.size() < kMaxToolLine) {
      line_.push_back(c);
    }
  }
  return latest;
}

std::optional<int> BackupToolOutput::finish() { return endLine(); }

}  // namespace amd
