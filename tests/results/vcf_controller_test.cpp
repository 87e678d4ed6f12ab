#include "results/vcf_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/vcard_reader.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

std::string encode(const std::string& bytes, std::size_t capacity = 0) {
  std::string out(capacity ? capacity : bytes.size() * 2 + 8, '#');
  const std::size_t n =
      MzVCFController::baseEncode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                  out.data(), out.size(), MzVCFController::kBase64Charset, true);
  return out.substr(0, n);
}

TEST(VcfBase64, KnownVectorsLengthsAndLimits) {
  // RFC 4648 test vectors.
  EXPECT_EQ(encode("f"), "Zg==");
  EXPECT_EQ(encode("fo"), "Zm8=");
  EXPECT_EQ(encode("foo"), "Zm9v");
  EXPECT_EQ(encode("foob"), "Zm9vYg==");
  EXPECT_EQ(encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
  EXPECT_EQ(encode("abc"), "YWJj");
  EXPECT_EQ(encode(std::string("\xFF\xFE\x00", 3)), "//4A");

  // The exact capacity is enough and nothing is written past it; one less is refused.
  std::string exact(8, '#');
  std::string src = "foob";
  EXPECT_EQ(MzVCFController::baseEncode(reinterpret_cast<const std::uint8_t*>(src.data()), 4,
                                        exact.data(), 8, MzVCFController::kBase64Charset, true),
            8u);
  std::string small(7, '#');
  EXPECT_EQ(MzVCFController::baseEncode(reinterpret_cast<const std::uint8_t*>(src.data()), 4,
                                        small.data(), 7, MzVCFController::kBase64Charset, true),
            0u);
  EXPECT_EQ(small, std::string(7, '#'));

  char dest[8];
  EXPECT_EQ(MzVCFController::baseEncode(nullptr, 3, dest, 8, MzVCFController::kBase64Charset, true),
            0u);
  EXPECT_EQ(MzVCFController::baseEncode(reinterpret_cast<const std::uint8_t*>("a"), 0, dest, 8,
                                        MzVCFController::kBase64Charset, true),
            0u);
  // Without padding the last group is shorter.
  EXPECT_EQ(MzVCFController::baseEncode(reinterpret_cast<const std::uint8_t*>("f"), 1, dest, 8,
                                        MzVCFController::kBase64Charset, false),
            2u);
}

MzContactNode annLee() {
  MzContactNode c;
  c.contactName = "Ann Lee";
  c.contactEmail = " ann@example.com";
  c.contactPhone = " +1 555 0100";
  return c;
}

TEST(VcfCard, OneLinePerValueWithItsLabel) {
  // A record with no parts or values (as carved) keeps its whole name and strings.
  MzVCFController vcf;
  EXPECT_EQ(vcf.buildCard(annLee()),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Ann Lee;;;;\r\nFN:Ann Lee\r\nORG:\r\n"
            "EMAIL;TYPE=INTERNET;TYPE=PREF:ann@example.com\r\nTEL;TYPE=PREF:+1 555 0100\r\n"
            "END:VCARD");

  MzContactNode c = annLee();
  c.firstName = "Ann";
  c.lastName = "Lee";
  c.nameSuffix = "Jr.";
  using Kind = MzContactValue::Kind;
  const auto value = [](Kind kind, const char* label, const char* text) {
    MzContactValue v;
    v.kind = kind;
    v.label = label;
    v.value = text;
    return v;
  };
  MzContactValue address = value(Kind::Address, "Summer, house", "Storgatan 1, Visby");
  address.street = "Storgatan 1\nBox 3";
  address.city = "Visby";
  address.postcode = "111 22";
  address.country = "Sweden";
  c.values = {value(Kind::Phone, "Mobile", "+46 76 555 44 21"),
              value(Kind::Phone, "Home", "+46 70 555 12 34"),
              value(Kind::Phone, "", "112"),
              value(Kind::Email, "Work", "ann@example.com"),
              value(Kind::Url, "HomePage", "http://ann.example"),
              address};
  c.contactPhone = " +46 76 555 44 21 +46 70 555 12 34 112";
  EXPECT_EQ(vcf.buildCard(c),
            "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Lee;Ann;;;Jr.\r\nFN:Ann Lee\r\nORG:\r\n"
            "EMAIL;TYPE=INTERNET;TYPE=WORK;TYPE=PREF:ann@example.com\r\n"
            "TEL;TYPE=CELL;TYPE=PREF:+46 76 555 44 21\r\nTEL;TYPE=HOME:+46 70 555 12 34\r\n"
            "TEL:112\r\n"
            "ADR;TYPE=\"Summer, house\";TYPE=PREF:;;Storgatan 1\\nBox 3;Visby;;111 22;Sweden\r\n"
            "URL;TYPE=HOME;TYPE=PREF:http://ann.example\r\nEND:VCARD");
}

TEST(VcfCard, ValuesAreEscapedAndAReaderGetsThemBack) {
  MzContactNode c;
  c.contactName = "Berg, Anna; \\ the 2nd";
  c.contactCompany = "Holm & Partners,\nStockholm";
  c.contactEmail = " a@example.se b@example.se";
  c.contactPhone = " 08-555 321 00";
  c.contactHomepage = " http://example.se/a;b,c";
  std::vector<std::uint8_t> photo(200000);
  for (std::size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<std::uint8_t>(i * 7);
  c.imageData = makeBytes(photo);

  MzVCFController vcf;
  const std::string text = vcf.buildCard(c);
  EXPECT_NE(text.find("N:Berg\\, Anna\\; \\\\ the 2nd;;;;\r\n"), std::string::npos);
  EXPECT_NE(text.find("ORG:Holm & Partners\\,\\nStockholm\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 9), "END:VCARD");

  VCard card = readVCard(text);
  ASSERT_TRUE(card.wellFormed);
  ASSERT_NE(card.find("N"), nullptr);
  ASSERT_NE(card.find("FN"), nullptr);
  EXPECT_EQ(card.find("N")->value, c.contactName + ";;;;");
  EXPECT_EQ(card.find("FN")->value, c.contactName);
  EXPECT_EQ(card.find("ORG")->value, c.contactCompany);
  EXPECT_EQ(card.find("URL")->value, c.contactHomepage.substr(1));
  EXPECT_EQ(card.find("TEL")->value, c.contactPhone.substr(1));
  const VCardLine* p = card.find("PHOTO");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->params, (std::vector<std::string>{"ENCODING=b", "TYPE=JPEG"}));
  // 200 000 bytes give one unbroken line of 266 668 characters.
  EXPECT_EQ(p->value.size(), 266668u);
  EXPECT_EQ(p->value.find('\r'), std::string::npos);
  auto decoded = decodeBase64(p->value);
  EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), photo.begin(), photo.end()));
}

TEST(VcfCard, CreatFileReplacesAtomically) {
  TempDir tmp;
  const std::string path = tmp.writeFile("Ann Lee.vcf", "old content that is longer");
  MzVCFController vcf;
  EXPECT_EQ(vcf.creatFile(annLee(), path), 0);
  EXPECT_EQ(slurp(path), vcf.strContent);
  // Only the card is left in the folder (no temporary file).
  std::size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(tmp.path()))
    files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
  EXPECT_NE(vcf.creatFile(annLee(), tmp.sub("missing/x.vcf")), 0);
}

}  // namespace
