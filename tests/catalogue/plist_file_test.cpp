// Property-list bytes that made libplist abort the process: a NUL inside a string value (XML
// or binary) and a UTF-16 dictionary key with U+0000 in it.
#include "catalogue/plist_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A binary property list of one dictionary entry made of the objects `key` and `value`.
std::vector<std::uint8_t> binaryDict(const std::vector<std::uint8_t>& key,
                                     const std::vector<std::uint8_t>& value = {0x51, 'x'}) {
  std::vector<std::uint8_t> out = bytesOf("bplist00");
  std::vector<std::uint8_t> offsets;
  for (const auto& object : {std::vector<std::uint8_t>{0xD1, 0x01, 0x02}, key, value}) {
    offsets.push_back(static_cast<std::uint8_t>(out.size()));  // the dictionary: refs 1, 2
    out.insert(out.end(), object.begin(), object.end());
  }
  const std::uint8_t table = static_cast<std::uint8_t>(out.size());
  out.insert(out.end(), offsets.begin(), offsets.end());
  std::vector<std::uint8_t> trailer(32, 0);
  trailer[6] = 1;   // offset width
  trailer[7] = 1;   // object reference width
  trailer[15] = 3;  // objects
  trailer[31] = table;
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

TEST(PlistFile, NulInsideAStringEndsTheText) {
  const char kXml[] =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
      "<key>Device Name</key><string>Test\0Phone</string></dict></plist>";
  auto xml = bytesOf(std::string(kXml, sizeof kXml - 1));
  auto value = parsePlist(xml.data(), xml.size());
  ASSERT_TRUE(value);
  ASSERT_TRUE(value->asDict());
  EXPECT_EQ(plistString(*value->asDict(), "Device Name"), "Test");

  // The same in a binary list, as an ASCII value.
  auto binary = binaryDict({0x51, 'k'}, {0x53, 'a', 0x00, 'b'});
  auto parsed = parsePlist(binary.data(), binary.size());
  ASSERT_TRUE(parsed);
  ASSERT_TRUE(parsed->asDict());
  EXPECT_EQ(plistString(*parsed->asDict(), "k"), "a");
}

TEST(PlistFile, Utf16KeyWithNulIsRefused) {
  auto plain = binaryDict({0x62, 0x00, 'k', 0x00, 'y'});  // UTF-16 "ky"
  auto value = parsePlist(plain.data(), plain.size());
  ASSERT_TRUE(value);
  ASSERT_TRUE(value->asDict());
  EXPECT_EQ(plistString(*value->asDict(), "ky"), "x");

  auto hostile = binaryDict({0x62, 0x00, 'k', 0x00, 0x00});  // UTF-16 "k", U+0000
  EXPECT_FALSE(parsePlist(hostile.data(), hostile.size()));
  // A trailer that points anywhere is left to the parser, which refuses it.
  auto broken = hostile;
  broken[broken.size() - 1] = 0xFF;
  EXPECT_FALSE(parsePlist(broken.data(), broken.size()));
}

}  // namespace
