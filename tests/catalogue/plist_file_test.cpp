// Property-list bytes that made libplist abort or crash the process (a NUL inside a string
// value, a UTF-16 dictionary key with U+0000 in it, deep nesting), the XML reader against
// libplist's, and the reasons a list is refused.
#include "catalogue/plist_file.h"

#include <gtest/gtest.h>
#include <plist/plist.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

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

// A binary property list of `objects` (top object 0) with four-byte offsets.
std::vector<std::uint8_t> binaryList(const std::vector<std::vector<std::uint8_t>>& objects,
                                     std::uint8_t refWidth) {
  std::vector<std::uint8_t> out = bytesOf("bplist00");
  std::vector<std::uint64_t> offsets;
  for (const auto& object : objects) {
    offsets.push_back(out.size());
    out.insert(out.end(), object.begin(), object.end());
  }
  const std::uint64_t table = out.size();
  for (std::uint64_t offset : offsets) {
    for (int b = 3; b >= 0; --b) out.push_back(static_cast<std::uint8_t>(offset >> (8 * b)));
  }
  std::vector<std::uint8_t> trailer(32, 0);
  trailer[6] = 4;
  trailer[7] = refWidth;
  for (int b = 0; b < 8; ++b) {
    trailer[15 - b] = static_cast<std::uint8_t>(objects.size() >> (8 * b));
    trailer[31 - b] = static_cast<std::uint8_t>(table >> (8 * b));
  }
  out.insert(out.end(), trailer.begin(), trailer.end());
  return out;
}

// Arrays nested `levels` deep, each holding the next by a four-byte reference.
std::vector<std::uint8_t> nestedBinary(std::size_t levels) {
  std::vector<std::vector<std::uint8_t>> objects;
  for (std::size_t i = 1; i < levels; ++i) {
    objects.push_back({0xA1, static_cast<std::uint8_t>(i >> 24), static_cast<std::uint8_t>(i >> 16),
                       static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)});
  }
  objects.push_back({0xA0});
  return binaryList(objects, 4);
}

std::vector<std::uint8_t> nestedXml(std::size_t levels, const std::string& inner = "") {
  std::string text = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
  for (std::size_t i = 0; i < levels; ++i) text += "<array>";
  text += inner;
  for (std::size_t i = 0; i < levels; ++i) text += "</array>";
  return bytesOf(text + "</plist>");
}

PlistRefusal refusalOf(const std::vector<std::uint8_t>& bytes) {
  PlistProblem problem;
  auto value = parsePlist(bytes.data(), bytes.size(), &problem);
  EXPECT_EQ(value.has_value(), problem.refusal == PlistRefusal::None);
  return problem.refusal;
}

TEST(PlistFile, NestingDeeperThanTheLimitIsRefusedInBothForms) {
  for (auto nested : {&nestedBinary, +[](std::size_t n) { return nestedXml(n); }}) {
    EXPECT_EQ(refusalOf(nested(kMaxPlistNesting)), PlistRefusal::None);
    EXPECT_EQ(refusalOf(nested(kMaxPlistNesting + 1)), PlistRefusal::NestedTooDeep);
    EXPECT_EQ(refusalOf(nested(100000)), PlistRefusal::NestedTooDeep);
  }
  // An empty container is a level too; markup and text that look like tags are not.
  EXPECT_EQ(refusalOf(nestedXml(kMaxPlistNesting, "<array/>")), PlistRefusal::NestedTooDeep);
  auto quiet = nestedXml(kMaxPlistNesting,
                         "<!-- <array> --><string><![CDATA[<array><dict>]]></string><?a <dict>?>");
  auto value = parsePlist(quiet.data(), quiet.size());
  ASSERT_TRUE(value);
  const PlistValue* v = &*value;
  for (int level = 1; level < kMaxPlistNesting; ++level) v = &v->asArray()->at(0);
  ASSERT_EQ(v->asArray()->size(), 1u);
  EXPECT_EQ(*v->asArray()->at(0).asString(), "<array><dict>");
}

TEST(PlistFile, BinaryReferencesAreFollowedOnceAndWithinTheList) {
  // Two arrays that hold each other.
  EXPECT_EQ(refusalOf(binaryList({{0xA1, 0x01}, {0xA1, 0x00}}, 1)), PlistRefusal::NestedTooDeep);
  // A reference past the last object, and a count past the end of the bytes.
  EXPECT_EQ(refusalOf(binaryList({{0xA1, 0x05}}, 1)), PlistRefusal::NotAPropertyList);
  EXPECT_EQ(refusalOf(binaryList({{0xAF, 0x13, 0x7F, 0, 0, 0, 0, 0, 0, 0}}, 1)),
            PlistRefusal::NotAPropertyList);
  // Twenty arrays each holding the next twice unfold into 2^21 - 1 values, far more than
  // the list has bytes.
  std::vector<std::vector<std::uint8_t>> doubling;
  for (std::uint8_t i = 1; i < 20; ++i) doubling.push_back({0xA2, i, i});
  doubling.push_back({0x09});
  EXPECT_EQ(refusalOf(binaryList(doubling, 1)), PlistRefusal::TooManyValues);
  // Shared objects within the limit are read wherever they are referred to.
  doubling.resize(4);
  doubling.push_back({0x51, 'x'});
  auto shared = binaryList(doubling, 1);
  auto value = parsePlist(shared.data(), shared.size());
  ASSERT_TRUE(value);
  EXPECT_EQ(*value->asArray()->at(1).asArray()->at(1).asArray()->at(0).asArray()->at(1).asString(),
            "x");
}

// The tree as text, so that two trees compare in one assertion.
void dump(const PlistValue& v, std::string& out) {
  if (const std::string* s = v.asString()) out += "s:" + *s;
  if (const bool* b = v.asBool()) out += *b ? "true" : "false";
  if (const std::int64_t* i = v.asInteger()) out += "i:" + std::to_string(*i);
  if (const double* r = std::get_if<double>(&v.value)) out += "r:" + std::to_string(*r);
  if (auto* t = std::get_if<PlistDate>(&v.value)) out += "t:" + std::to_string(t->secondsSince1970);
  if (auto* d = std::get_if<std::vector<std::uint8_t>>(&v.value)) {
    out += "d:" + std::string(d->begin(), d->end());
  }
  if (const PlistArray* a = v.asArray()) {
    out += "[";
    for (const PlistValue& item : *a) dump(item, out += ",");
    out += "]";
  }
  if (const PlistDict* d = v.asDict()) {
    out += "{";
    for (const auto& [key, item] : *d) dump(item, out += "," + key + "=");
    out += "}";
  }
}

TEST(PlistFile, XmlIsReadAsLibplistReadsIt) {
  std::string xml =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/"
      "PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><!-- before the value --><dict>\n"
      "\t<key>Text</key><string>a &amp; b &lt;c&gt; <![CDATA[<raw> &amp;]]> end </string>\n"
      "\t<key>Empty</key><string/><key>Negative</key><integer>-42</integer>\n"
      "\t<key>Big</key><integer> 18446744073709551615 </integer>\n"
      "\t<key>Real</key><real>-2.5e3</real><key>Yes</key><true/><key>No</key><false/>\n"
      "\t<key>When</key><date>2013-06-01T12:34:56Z</date>\n"
      "\t<key>Bytes</key><data>\n\tSGVs\n\tbG8=\n\t</data>\n"
      "\t<key>List</key><array><integer>1</integer><dict/><array/><string>x</string></array>\n"
      "\t<key>Dup</key><string>first</string><key>Dup</key><string>second</string>\n";
  for (int i = 0; i < 3000; ++i) xml += "<key>k" + std::to_string(i) + "</key><true/>";
  xml += "</dict></plist>\n";

  auto ours = parsePlist(reinterpret_cast<const std::uint8_t*>(xml.data()), xml.size());
  ASSERT_TRUE(ours);
  const PlistDict& dict = *ours->asDict();
  EXPECT_EQ(plistString(dict, "Text"), "a & b <c> <raw> &amp; end ");
  EXPECT_EQ(plistString(dict, "Dup"), "second");
  EXPECT_EQ(std::get<PlistDate>(dict.at("When").value).secondsSince1970, 1370090096.0);
  EXPECT_EQ(dict.size(), 3011u);

  // The same document through libplist's XML reader and back out as a binary list.
  plist_t node = nullptr;
  plist_from_xml(xml.data() + 3, static_cast<std::uint32_t>(xml.size() - 3), &node);
  ASSERT_TRUE(node);
  char* bin = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(node, &bin, &length);
  plist_free(node);
  auto theirs = parsePlist(reinterpret_cast<const std::uint8_t*>(bin), length);
  std::free(bin);
  ASSERT_TRUE(theirs);
  std::string a, b;
  dump(*ours, a);
  dump(*theirs, b);
  EXPECT_EQ(a, b);
}

TEST(PlistFile, MalformedXmlIsRefused) {
  for (const char* text : {
           "<plist><dict><key>a</key><string>x</string>",     // never closed
           "<plist><dict><key>a</key></dict></plist>",        // a key without its value
           "<plist><dict><string>x</string></dict></plist>",  // a value without its key
           "<plist><dict></array></plist>",
           "<plist><array><key>a</key></array></plist>",
           "<plist><array><unknown/></array></plist>",
           "<plist><string>a<b/></string></plist>",
           "<plist></plist>",
           "<plist><!-- unclosed",
           "",
       }) {
    std::string s = text;
    EXPECT_EQ(refusalOf(bytesOf(s)), PlistRefusal::NotAPropertyList) << text;
  }
}

TEST(PlistFile, RefusedFilesSayWhy) {
  TempDir tmp;
  const std::string list =
      tmp.writeFile("list.plist", "<plist><array><string>abc</string></array></plist>");
  PlistProblem problem;
  EXPECT_FALSE(readPlistFile(list, 20, &problem));
  EXPECT_EQ(problem.refusal, PlistRefusal::TooLarge);
  EXPECT_EQ(describePlistProblem(problem), "too large (50 bytes, at most 20)");
  EXPECT_TRUE(readPlistFile(list, 50, &problem));
  EXPECT_EQ(problem.refusal, PlistRefusal::None);
  EXPECT_FALSE(readPlistDictionary(list, &problem));
  EXPECT_EQ(problem.refusal, PlistRefusal::NotADictionary);

  // The fixed limit holds whatever the caller asks for; the file is not read.
  const std::string huge = tmp.writeFile("huge.plist", "");
  std::filesystem::resize_file(huge, kMaxPlistFileSize + 1);
  EXPECT_FALSE(readPlistFile(huge, ~0ull, &problem));
  EXPECT_EQ(describePlistProblem(problem), "too large (33554433 bytes, at most 33554432)");

  EXPECT_FALSE(readPlistDictionary(tmp.sub("absent"), &problem));
  EXPECT_EQ(problem.refusal, PlistRefusal::Missing);
  EXPECT_FALSE(readPlistDictionary(tmp.path(), &problem));
  EXPECT_EQ(problem.refusal, PlistRefusal::Unreadable);
  const auto bytes = nestedXml(kMaxPlistNesting + 1);
  const std::string deep = tmp.writeFile("deep.plist", std::string(bytes.begin(), bytes.end()));
  EXPECT_FALSE(readPlistDictionary(deep, &problem));
  EXPECT_EQ(describePlistProblem(problem), "nested too deeply");
}

}  // namespace
