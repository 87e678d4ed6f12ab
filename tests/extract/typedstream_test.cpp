#include "extract/typedstream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/typedstream_blob.h"

namespace {

std::optional<std::string> read(const std::vector<std::uint8_t>& blob) {
  return attributedBodyText(blob.data(), blob.size());
}

TEST(Typedstream, TheStringOfEveryLengthForm) {
  const std::string placeholder = "\xEF\xBF\xBC";
  for (const std::string& text :
       {std::string("Hej!"), std::string(), "Look " + placeholder + " and " + placeholder,
        std::string(200, 'a'), std::string(70000, 'b'), std::string("Smörgåsbord 🍰")}) {
    EXPECT_EQ(read(typedstreamBlob(text)), text) << text.size();
  }
  EXPECT_EQ(read(typedstreamBlob("mutable", "NSMutableString")), "mutable");
}

TEST(Typedstream, DamagedOrForeignBlobsGiveNoText) {
  for (const std::string& text : {std::string("Hej!"), std::string(300, 'x')}) {
    const auto blob = typedstreamBlob(text);
    const std::size_t textEnd = blob.size() - 25;  // the dictionary that follows is not read
    // Every blob cut short before the end of the text.
    for (std::size_t cut = 0; cut < textEnd; ++cut) {
      const std::vector<std::uint8_t> part(blob.begin(), blob.begin() + static_cast<long>(cut));
      EXPECT_EQ(read(part), std::nullopt) << cut;
    }
  }
  auto wrongSignature = typedstreamBlob("Hej!");
  wrongSignature[3] = 'X';
  EXPECT_EQ(read(wrongSignature), std::nullopt);
  auto notUtf8 = typedstreamBlob("Hej!");
  notUtf8[notUtf8.size() - 27] = '\xFF';
  EXPECT_EQ(read(notUtf8), std::nullopt);
  auto unknownLength = typedstreamBlob("Hej!");
  unknownLength[unknownLength.size() - 30] = '\x83';
  EXPECT_EQ(read(unknownLength), std::nullopt);
  EXPECT_EQ(attributedBodyText(nullptr, 10), std::nullopt);
}

}  // namespace
