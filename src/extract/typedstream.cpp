#include "extract/typedstream.h"

#include <cstring>
#include <string_view>

#include "base/conversions.h"

namespace {

constexpr std::string_view kSignature("\x04\x0Bstreamtyped", 13);
// How far after the class name the string's type code may stand: the class's version and
// the markers of the object and its super class take a few bytes.
constexpr std::size_t kTypeCodeWindow = 24;

// The position just after the first occurrence of `needle` at or after `from`, or none.
std::optional<std::size_t> after(std::string_view haystack, std::string_view needle,
                                 std::size_t from) {
  const std::size_t at = haystack.find(needle, from);
  if (at == std::string_view::npos) return std::nullopt;
  return at + needle.size();
}

// The length stored at `at` (moved past it), bounded by the blob; none when it is cut short,
// negative or runs past the end.
std::optional<std::size_t> lengthAt(std::string_view blob, std::size_t& at) {
  if (at >= blob.size()) return std::nullopt;
  const auto byte = static_cast<std::uint8_t>(blob[at]);
  std::uint64_t length = 0;
  if (byte < 0x80) {
    length = byte;
    at += 1;
  } else if (byte == 0x81) {
    if (blob.size() - at < 3) return std::nullopt;
    length = static_cast<std::uint8_t>(blob[at + 1]) |
             std::uint64_t{static_cast<std::uint8_t>(blob[at + 2])} << 8;
    at += 3;
  } else if (byte == 0x82) {
    if (blob.size() - at < 5) return std::nullopt;
    for (int i = 3; i >= 0; --i) {
      length = length << 8 | static_cast<std::uint8_t>(blob[at + 1 + static_cast<std::size_t>(i)]);
    }
    at += 5;
  } else {
    return std::nullopt;
  }
  if (length > blob.size() - at) return std::nullopt;
  return static_cast<std::size_t>(length);
}

// Whether `text` is UTF-8 without a NUL: the conversion gives the empty text otherwise.
bool readableText(std::string_view text) {
  if (text.empty()) return true;
  if (text.find('\0') != std::string_view::npos) return false;
  return !GetStringFormChar(text).empty();
}

}  // namespace

std::optional<std::string> attributedBodyText(const std::uint8_t* blob, std::size_t size) {
  if (blob == nullptr || size < kSignature.size()) return std::nullopt;
  const std::string_view bytes(reinterpret_cast<const char*>(blob), size);
  if (!bytes.starts_with(kSignature)) return std::nullopt;
  // NSMutableString contains "String" too, but not "NSString": look for both names.
  std::optional<std::size_t> classEnd = after(bytes, "NSString", kSignature.size());
  const std::optional<std::size_t> mutableEnd = after(bytes, "NSMutableString", kSignature.size());
  if (!classEnd || (mutableEnd && *mutableEnd < *classEnd)) classEnd = mutableEnd;
  if (!classEnd) return std::nullopt;
  const std::size_t windowEnd = std::min(bytes.size(), *classEnd + kTypeCodeWindow);
  for (std::size_t at = *classEnd; at < windowEnd; ++at) {
    // The type code "+" of a C string of bytes, preceded by its one-byte length marker.
    if (bytes[at] != '+' || at == 0 || static_cast<std::uint8_t>(bytes[at - 1]) != 0x01) continue;
    std::size_t cursor = at + 1;
    const std::optional<std::size_t> length = lengthAt(bytes, cursor);
    if (!length) return std::nullopt;
    const std::string_view text = bytes.substr(cursor, *length);
    if (!readableText(text)) return std::nullopt;
    return std::string(text);
  }
  return std::nullopt;
}
