#include "extract/typedstream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// An attributed string as the device archives it: the signature and version, the
// NSAttributedString and NSObject classes, then the string's class and its text, then an
// attribute dictionary (which the reader leaves alone).
std::vector<std::uint8_t> archive(const std::string& text,
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

std::optional<std::string> read(const std::vector<std::uint8_t>& blob) {
  return attributedBodyText(blob.data(), blob.size());
}

TEST(Typedstream, TheStringOfEveryLengthForm) {
  const std::string placeholder = "\xEF\xBF\xBC";
  for (const std::string& text :
       {std::string("Hej!"), std::string(), "Look " + placeholder + " and " + placeholder,
        std::string(200, 'a'), std::string(70000, 'b'), std::string("Smörgåsbord 🍰")}) {
    EXPECT_EQ(read(archive(text)), text) << text.size();
  }
  EXPECT_EQ(read(archive("mutable", "NSMutableString")), "mutable");
}

TEST(Typedstream, DamagedOrForeignBlobsGiveNoText) {
  for (const std::string& text : {std::string("Hej!"), std::string(300, 'x')}) {
    const auto blob = archive(text);
    const std::size_t textEnd = blob.size() - 25;  // the dictionary that follows is not read
    // Every blob cut short before the end of the text.
    for (std::size_t cut = 0; cut < textEnd; ++cut) {
      const std::vector<std::uint8_t> part(blob.begin(), blob.begin() + static_cast<long>(cut));
      EXPECT_EQ(read(part), std::nullopt) << cut;
    }
  }
  auto wrongSignature = archive("Hej!");
  wrongSignature[3] = 'X';
  EXPECT_EQ(read(wrongSignature), std::nullopt);
  auto notUtf8 = archive("Hej!");
  notUtf8[notUtf8.size() - 27] = '\xFF';
  EXPECT_EQ(read(notUtf8), std::nullopt);
  auto unknownLength = archive("Hej!");
  unknownLength[unknownLength.size() - 30] = '\x83';
  EXPECT_EQ(read(unknownLength), std::nullopt);
  EXPECT_EQ(attributedBodyText(nullptr, 10), std::nullopt);
}

}  // namespace
