// Message bodies archived as the device archives them (an NSAttributedString in the
// typedstream format), for the tests of the readers of current message databases.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// An attributed string as the device archives it: the signature and version, the
// NSAttributedString and NSObject classes, then the string's class and its text, then an
// attribute dictionary (which the reader leaves alone).
inline std::vector<std::uint8_t> typedstreamBlob(const std::string& text,
                                                 const std::string& stringClass = "NSString") {
  std::string b("\x04\x0Bstreamtyped\x81\xE8\x03\x84\x01@\x84\x84\x84", 20);
  b += static_cast<char>(18);
  b += "NSAttributedString";
  b += std::string("\x00\x84\x84\x08NSObject\x00\x85\x92\x84\x84\x84", 17);
  b += static_cast<char>(stringClass.size());
  b += stringClass;
  b += std::string("\x01\x94\x84\x01+", 5);
  const std::size_t n = text.size();
  if (n < 0x80) {
    b += static_cast<char>(n);
  } else if (n <= 0xFFFF) {
    b += '\x81';
    b += static_cast<char>(n & 0xFF);
    b += static_cast<char>(n >> 8);
  } else {
    b += '\x82';
    for (int i = 0; i < 4; ++i) b += static_cast<char>((n >> (8 * i)) & 0xFF);
  }
  b += text;
  b += std::string("\x86\x84\x02iI\x01\x05\x92\x84\x84\x84\x0CNSDictionary\x00", 25);
  return {b.begin(), b.end()};
}
