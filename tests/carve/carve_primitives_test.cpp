#include "carve/carve_primitives.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace carve;

namespace {

DatabaseImage imageOf(std::vector<std::uint8_t> bytes) { return DatabaseImage(std::move(bytes)); }

std::string hexAt(const DatabaseImage& file, std::int64_t offset, std::size_t n) {
  std::vector<char> out(2 * n + 1, '\0');
  const char* text = getHexString(file, offset, n, out.data());
  return text ? std::string(text) : std::string("<none>");
}

}  // namespace

TEST(CarvePrimitives, HexTextAndRawReadsZeroPastTheEndAndNothingAtOffsetZero) {
  const DatabaseImage file = imageOf({0x53, 0xAB, 0x0F, 0x10});
  EXPECT_EQ(hexAt(file, 1, 3), "ab0f10");
  EXPECT_EQ(hexAt(file, 2, 4), "0f100000");  // two bytes past the end
  EXPECT_EQ(hexAt(file, 9, 2), "0000");
  EXPECT_EQ(hexAt(file, 0, 2), "<none>");
  EXPECT_EQ(hexAt(file, -3, 2), "<none>");
  EXPECT_EQ(hexAt(file, 1, 0), "<none>");

  std::uint8_t raw[4] = {9, 9, 9, 9};
  ASSERT_NE(readData(file, raw, 3, 4), nullptr);
  EXPECT_EQ(raw[0], 0x10);
  EXPECT_EQ(raw[1] | raw[2] | raw[3], 0);
  EXPECT_EQ(readData(file, raw, 0, 4), nullptr);
  EXPECT_EQ(readData(file, nullptr, 1, 4), nullptr);

  std::uint8_t copied[6];
  file.copy(-2, 6, copied);  // straddles the start and the end of the file
  EXPECT_EQ(std::vector<std::uint8_t>(copied, copied + 6),
            (std::vector<std::uint8_t>{0, 0, 0x53, 0xAB, 0x0F, 0x10}));
}

TEST(CarvePrimitives, NumbersFromHexBigEndianAndTwoByteVarints) {
  EXPECT_EQ(DemaNumberFormHexChar("1000", 4), 4096u);
  EXPECT_EQ(DemaNumberFormHexChar("ff", 2), 255u);
  EXPECT_EQ(DemaNumberFormHexChar("FF", 2), 0u);  // uppercase counts 0
  EXPECT_EQ(DemaNumberFormHexChar("1z", 2), 16u);
  EXPECT_EQ(DemaNumberFormHexChar("12", 4), 0u);  // shorter than asked
  EXPECT_EQ(DemaNumberFormHexChar(nullptr, 2), 0u);

  const std::uint8_t bytes[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(carve::readBigEndian(bytes, 1, 4), 0xFFFFFFFFu);
  EXPECT_EQ(carve::readBigEndian(bytes, 0, 2), 0xFFu);

  EXPECT_EQ(getAlterInteger(0x81, 0x05), 133);
  EXPECT_EQ(getAlterInteger(0x80, 0x7F), 127);
  EXPECT_EQ(getAlterInteger(0x89, 0x40), (9 << 7) | 0x40);
  EXPECT_EQ(getAlterInteger(0x01, 0x05), 5);       // "1" + "0000101": leading "10" dropped
  EXPECT_EQ(getAlterInteger(0xC1, 0x05), 0x6085);  // no leading "10": kept whole
  EXPECT_EQ(getAlterInteger(0x00, 0x05), 5);
  EXPECT_EQ(getAlterInteger(0x81, 0x85), 0x85 | (1 << 8));  // 8-digit second byte unpadded
}

TEST(CarvePrimitives, SerialTypeLengthsPageKindsAndHeaderVersion) {
  EXPECT_EQ(getFieldDataLengthBy(4), 4);
  EXPECT_EQ(getFieldDataLengthBy(5), 6);
  EXPECT_EQ(getFieldDataLengthBy(6), 8);
  EXPECT_EQ(getFieldDataLengthBy(7), 8);
  for (int t = 8; t <= 13; ++t) EXPECT_EQ(getFieldDataLengthBy(t), 0) << t;
  EXPECT_EQ(getFieldDataLengthBy(14), 1);
  EXPECT_EQ(getFieldDataLengthBy(15), 1);
  EXPECT_EQ(getFieldDataLengthBy(113), 50);
  EXPECT_EQ(getFieldDataLengthBy(-3), 0);

  const DatabaseImage file = imageOf({0x0D, 0x0D, 0x00, 0x05, 0x02, 0x0A, 0x07});
  EXPECT_EQ(getPageType(file, 0), -1);
  EXPECT_EQ(getPageType(file, 1), 1);
  EXPECT_EQ(getPageType(file, 2), 2);
  EXPECT_EQ(getPageType(file, 3), 2);
  EXPECT_EQ(getPageType(file, 4), 3);
  EXPECT_EQ(getPageType(file, 5), 4);
  EXPECT_EQ(getPageType(file, 6), -1);
  EXPECT_EQ(getPageType(file, 100), 2);  // past the end reads as zero
  EXPECT_TRUE(checkSQliteVersion(file, 4));
  EXPECT_FALSE(checkSQliteVersion(file, 5));
}

TEST(CarvePrimitives, OneByteReaderDecodesIntegersAndTextsAndAdvancesTheDataOffset) {
  // Header at 1: serial types 0, 4, 1, 0, 8, 0x17 (5-byte text), 5, 7; bodies from 1 + 8.
  const DatabaseImage file =
      imageOf({0x00, 0x00, 0x04, 0x01, 0x00, 0x08, 0x17, 0x05, 0x07, 0xFF, 0xFF, 0xFF, 0xFF,
               0xFF, 'H',  'e',  'l',  'l',  'o',  0x00, 0x00, 0x00, 0x01, 0x00, 0x02});
  FieldBuffer field(260);
  std::int64_t d = 0;
  EXPECT_FALSE(AnalyseDBDataFile(file, 0, d, 1, 8, field));  // type 0: no result
  EXPECT_EQ(d, 0);
  ASSERT_TRUE(AnalyseDBDataFile(file, 1, d, 1, 8, field));
  EXPECT_EQ(field.text(), "-1");
  EXPECT_EQ(d, 4);
  ASSERT_TRUE(AnalyseDBDataFile(file, 2, d, 1, 8, field));
  EXPECT_EQ(field.text(), "255");
  EXPECT_EQ(d, 5);
  EXPECT_FALSE(AnalyseDBDataFile(file, 4, d, 1, 8, field));  // type 8: no body
  EXPECT_TRUE(field.empty());
  EXPECT_EQ(d, 5);
  ASSERT_TRUE(AnalyseDBDataFile(file, 5, d, 1, 8, field));
  EXPECT_EQ(field.text(), "Hello");
  EXPECT_EQ(d, 10);
  ASSERT_TRUE(AnalyseDBDataFile(file, 6, d, 1, 8, field));  // 6 bytes, the last 4 past the end
  EXPECT_EQ(field.text(), "65538");
  EXPECT_EQ(d, 16);

  // The same with a head adjustment of 3 from a base 3 bytes earlier.
  d = 0;
  ASSERT_TRUE(AnalyseTheDBDataFile(file, 1, d, -2, 3, 8, field));
  EXPECT_EQ(field.text(), "-1");
  EXPECT_EQ(d, 4);
}

TEST(CarvePrimitives, TwoByteReaderAndMessageReaderAndLongBodiesAreCut) {
  // A 70-byte text: serial type 13 + 2*70 = 153 = varint 0x81 0x19.
  std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x81, 0x19};
  for (int i = 0; i < 70; ++i) bytes.push_back(static_cast<std::uint8_t>('a' + i % 26));
  const DatabaseImage file = imageOf(bytes);
  FieldBuffer field(260);
  std::int64_t d = 0;
  ASSERT_TRUE(AnalyseAlterbleDB(file, 1, d, 1, 3, field));
  EXPECT_EQ(field.text().size(), 70u);
  EXPECT_EQ(d, 70);

  FieldBuffer small(16);  // a body longer than the buffer is cut, never overflows
  d = 0;
  ASSERT_TRUE(AnalyseAlterbleDBFile(file, 1, d, -1, 2, 3, small));
  EXPECT_EQ(small.text(), "abcdefghijklmno");
  EXPECT_EQ(d, 70);

  const DatabaseImage big = imageOf({0x00, 0xFF, 0xFF, 0x41});  // decodes above 4095
  d = 0;
  EXPECT_FALSE(AnalyseAlterbleDB(big, 1, d, 1, 2, field));
  EXPECT_EQ(d, 0);

  const DatabaseImage message = imageOf({0x00, 0x09, 0x0C, 0x13, 0x00, 0x2A, 0x41});
  d = 0;
  ASSERT_TRUE(AnalyseMessageDBDataFile(message, 0, d, 1, 4, field));
  EXPECT_EQ(field.text(), "42");
  EXPECT_EQ(d, 1);
  EXPECT_FALSE(AnalyseMessageDBDataFile(message, 1, d, 1, 4, field));
  EXPECT_EQ(d, 1);
  ASSERT_TRUE(AnalyseMessageDBDataFile(message, 2, d, 1, 4, field));
  EXPECT_EQ(field.text(), "A");
  EXPECT_EQ(d, 2);
}

TEST(CarvePrimitives, SignatureFamiliesAndSlidingWindows) {
  EXPECT_EQ(bCheckDataIsValid("ffd8ffe0", 4), 1);
  EXPECT_EQ(bCheckDataIsValid("0000000000", 4), -1);  // the 14-character one does not fit
  EXPECT_EQ(bCheckDataIsValid("00000000000000", 4), 1);
  EXPECT_EQ(bCheckDataIsValid("0309aa", 1), 1);
  EXPECT_EQ(bCheckDataIsValid("0101", 7), -1);
  EXPECT_EQ(bCheckDataIsValid(nullptr, 1), 0);

  // 20 characters, window 10: starts 0..9. The signature starts at the odd character 3.
  EXPECT_TRUE(bcheckSubStringIsValid("abc01010809cccccccca", 4, 10));
  // At character 9 it is still tried; at 10 (length - window) it is not.
  EXPECT_TRUE(bcheckSubStringIsValid("aaaaaaaaa01010809aaa", 4, 10));
  EXPECT_FALSE(bcheckSubStringIsValid("aaaaaaaaaa01010809aa", 4, 10));
  EXPECT_FALSE(bcheckSubStringIsValid("0f0f080801", 4, 10));  // length - window = 0 windows
  EXPECT_FALSE(bcheckSubStringIsValid(nullptr, 4, 10));
  EXPECT_TRUE(bcheckChatIOS6SubStringIsValid("a0600aaaaa", 4));
  EXPECT_FALSE(bcheckChatIOS6SubStringIsValid("aaaaaa0600", 4));
  EXPECT_TRUE(bcheckMessageIOS6SubStringIsValid("f0800090011ffffffff", 10));

  // On the file: the sliding test over the hex text, nibble boundaries included.
  const DatabaseImage file = imageOf({0x00, 0xA0, 0x10, 0x10, 0x80, 0x9A, 0xAA, 0xAA});
  EXPECT_TRUE(subStringIsValidAt(file, 1, 7, 4, 8));
  EXPECT_FALSE(subStringIsValidAt(file, 0, 7, 4, 8));
  EXPECT_EQ(signatureFamilyAt(file, 2, 4, 4), -1);
}

TEST(CarvePrimitives, DeletedMarksAndByteProbes) {
  const DatabaseImage file =
      imageOf({0x53, 0x0A, 0x00, 0x0B, 0x00, 0x23, 0x00, 0x85, 0x09, 0x79, 0x98, 0x99});
  EXPECT_TRUE(getDeletedMark(file, 1, 2, 1));
  for (int family = 1; family <= 7; ++family) EXPECT_FALSE(getDeletedMark(file, 3, 2, family));
  EXPECT_TRUE(getDeletedMark(file, 5, 2, 4));
  EXPECT_TRUE(getDeletedMark(file, 5, 2, 2));
  EXPECT_FALSE(getDeletedMark(file, 5, 2, 8));
  EXPECT_FALSE(getDeletedMark(file, 5, 1, 4));

  EXPECT_EQ(bNoteAlter(file, 7), 1);
  EXPECT_EQ(bNoteAlter(file, 8), 0);
  EXPECT_EQ(bImageURLAlter(file, 8), 0);
  EXPECT_EQ(bImageURLAlter(file, 7), 1);
  EXPECT_EQ(ISAlterPropertFiled(file, 9), 1);
  EXPECT_EQ(ISAlterPropertFiled(file, 10), 1);
  EXPECT_EQ(ISAlterPropertFiled(file, 11), 0);
  EXPECT_EQ(bSortAlter(file, 2), 0);
  EXPECT_EQ(bSortAlter(file, 3), 1);
  EXPECT_EQ(bSortAlter(file, 9), 3);            // back to the zero at 6
  EXPECT_EQ(bSortAlter(file, 0), 1);            // before the file counts as zero
  EXPECT_EQ(bIsAlterbleDBFile(file, 7, 6), 5);  // to the end of the file
  EXPECT_EQ(bIsAlterbleDBFile(file, 2, 6), 0);
  EXPECT_EQ(bIsAlterbleDBFile(file, 5, 2), 1);
  EXPECT_EQ(bIsAlterbleDBFile(file, 8, 2), 0);
  EXPECT_EQ(bIsAlterbleDBFile(file, 5, 3), 0);

  const DatabaseImage lengths = imageOf({0x01, 0x23, 0x00, 0x05, 0x13, 0x00});
  EXPECT_EQ(GetFildLength(lengths, 2), 2);  // zero: the byte before
  EXPECT_EQ(GetFildLength(lengths, 3), 1);  // the last of the run 05 13
  EXPECT_EQ(GetFildLength(lengths, 0), 2);
  EXPECT_FALSE(AddressIsAlterbleDBFile(lengths, 1));
}

TEST(CarvePrimitives, PageTextAndTheTextAfterAName) {
  std::vector<std::uint8_t> page = {'A', 'B'};
  page.resize(16, 0);
  EXPECT_EQ(GetLastPageStringWithChar(page.data(), page.size()), "AB..............");
  const std::uint8_t odd[] = {0x1F, 0x20, 0x7E, 0x7F, 0x80};
  EXPECT_EQ(GetLastPageStringWithChar(odd, 5), ". ~..");

  EXPECT_EQ(getNextSubStringInString("..annaberg5551234 tail.", "AnnaBerg"), "5551234 ");
  EXPECT_EQ(getNextSubStringInString("..annaberg5551234", "annaberg"), "555123");  // no blank
  EXPECT_EQ(getNextSubStringInString("xx", ""), std::nullopt);
  EXPECT_EQ(getNextSubStringInString("..bob.", "anna"), std::nullopt);
  // A long text after the first match sends the search on to b = 2e + length.
  const std::string longFirst = "ann" + std::string(30, 'x') + " ann12 ..........................";
  EXPECT_EQ(getNextSubStringInString(longFirst, "ann"), std::nullopt);
  const std::string shortLater =
      "ann" + std::string(22, 'x') + " " + std::string(40, '.') + "ann777 " + std::string(20, '.');
  EXPECT_EQ(getNextSubStringInString(shortLater, "ann"), "777 ");
}

namespace {

// A field whose body runs past the end of its page is refused, not read on into the next
// page; the fields after it move on as if it had been read, so they are refused too.
TEST(CarvePrimitives, FieldsRunningPastThePageEndAreRefused) {
  // Header at 1: serial types 0x17 (5-byte text), 1, 0x81 0x19 (70-byte text); bodies from
  // 1 + 5, the page ending after the first text's body or one byte before.
  std::vector<std::uint8_t> bytes = {0x00, 0x00, 0x17, 0x01, 0x81, 0x19, 'H', 'e', 'l', 'l', 'o'};
  bytes.resize(120, 'x');  // the next page's bytes
  const DatabaseImage file(bytes);
  FieldBuffer field(260);
  for (const std::int64_t end : {std::int64_t{11}, std::int64_t{10}}) {
    std::int64_t d = 0;
    const bool whole = end == 11;
    EXPECT_EQ(AnalyseDBDataFile(file, 1, d, 1, 5, field, end), whole) << end;
    EXPECT_EQ(field.text(), whole ? "Hello" : "");
    EXPECT_EQ(d, 5);
    EXPECT_FALSE(AnalyseDBDataFile(file, 2, d, 1, 5, field, end));  // its body byte is past it
    EXPECT_EQ(d, 6);
    EXPECT_FALSE(AnalyseAlterbleDB(file, 3, d, 1, 5, field, end));
    EXPECT_TRUE(field.empty());
    EXPECT_EQ(d, 76);
    // With no end the text reads on into the next page, as it always could.
    d = 6;
    EXPECT_TRUE(AnalyseAlterbleDB(file, 3, d, 1, 5, field));
  }
  // A serial type that lies past the end is no field at all.
  std::int64_t d = 0;
  EXPECT_FALSE(AnalyseDBDataFile(file, 1, d, 1, 5, field, 2));
  EXPECT_EQ(d, 0);
}

}  // namespace
