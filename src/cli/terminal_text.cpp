#include "cli/terminal_text.h"

#include <cstdint>

namespace {

void appendHexEscape(std::string& out, char prefix, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '\\';
  out += prefix;
  if (digits == 4) out += "00";
  out += kHex[(value >> 4) & 0xF];
  out += kHex[value & 0xF];
}

// The length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t n = 0;
  std::uint32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  std::uint32_t cp = b0 & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

std::string terminalSafe(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F) {
        appendHexEscape(out, 'x', c, 2);
      } else {
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    const std::size_t n = utf8SequenceLength(text.substr(i));
    if (n == 0) {
      appendHexEscape(out, 'x', c, 2);
      ++i;
      continue;
    }
    if (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      appendHexEscape(out, 'u', static_cast<unsigned char>(text[i + 1]), 4);
    } else {
      out.append(text.substr(i, n));
    }
    i += n;
  }
  return out;
}
