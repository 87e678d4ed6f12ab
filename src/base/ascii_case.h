// Comparing names that the device's files spell in either case ("ZIP", "zip").
#pragma once

#include <string_view>

// `c` with an ASCII capital made small; any other byte as it is, whatever the locale.
constexpr char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// True when `a` and `b` are the same text but for the case of ASCII letters.
inline bool sameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}
