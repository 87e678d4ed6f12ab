// Comparing names that the device's files spell in either case ("ZIP", "zip").
#pragma once

#include <cctype>
#include <string_view>

// True when `a` and `b` are the same text but for the case of ASCII letters.
inline bool sameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}
