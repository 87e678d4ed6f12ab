// The scan document's writer gives exactly the library's dump(2), bytes that are not UTF-8
// written as U+FFFD.
#include "cli/json_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "cli/json_records.h"
#include "extract/item_records.h"

namespace {

using Json = nlohmann::json;

// The writer's text, or the text of the exception it let through.
std::string written(const Json& doc) {
  try {
    return indentedJsonText(doc);
  } catch (const Json::exception& e) {
    return std::string("exception: ") + e.what();
  }
}

std::string dumped(const Json& doc) {
  try {
    return doc.dump(2, ' ', false, Json::error_handler_t::replace);
  } catch (const Json::exception& e) {
    return std::string("exception: ") + e.what();
  }
}

TEST(JsonText, WritesWhatDumpWrites) {
  Json doc = Json::object();
  doc["empty object"] = Json::object();
  doc["empty array"] = Json::array();
  doc["null"] = nullptr;
  doc["flags"] = {true, false};
  doc["integers"] = {0, -1, 42, std::numeric_limits<std::int64_t>::min(),
                     std::numeric_limits<std::int64_t>::max()};
  doc["unsigned"] = std::numeric_limits<std::uint64_t>::max();
  doc["floats"] = {0.0, -0.5, 1.0, 3.14159, 1e300, 6.02e-23};
  doc["text"] = "plain / text with \"quotes\", \\ and \b\f\n\r\t, \x01\x1f\x7f";
  doc["unicode"] = "\xc3\xa5\xc3\xa4\xc3\xb6 \xe2\x82\xac \xf0\x9f\x93\xb7 \xef\xbf\xbf";
  doc["ke\ny \xc3\xa9"] = "key text is escaped too";
  doc["nested"] = {{"a", {{"b", {1, {{"c", Json::array()}}, Json::object()}}}}};
  doc["photos"] = Json::array();
  for (int i = 0; i < 3; ++i) {
    doc["photos"].push_back({{"fileNodeName", "IMG_000" + std::to_string(i) + ".HEIC"},
                             {"fileSizeNumber", 600 + i},
                             {"bLivePhoto", i == 0}});
  }
  EXPECT_EQ(written(doc), doc.dump(2));
  for (const Json& single : {Json(), Json(7), Json("x"), Json::array(), Json::object()}) {
    EXPECT_EQ(written(single), single.dump(2));
  }
}

TEST(JsonText, TextThatIsNotUtf8IsLeftToTheLibrary) {
  for (const std::string bad : {"\xff", "a\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                "\xe0\x80\xaf", "\xf0\x8f\xbf\xbf", "ok \x80 no"}) {
    Json doc = {{"name", "x"}, {"value", {1, bad}}};
    EXPECT_EQ(written(doc), dumped(doc)) << bad;
    EXPECT_NE(written(doc).find("\xef\xbf\xbd"), std::string::npos) << bad;
    Json key = {{bad, 1}};
    EXPECT_EQ(written(key), dumped(key));
  }
  Json binary = {{"bytes", Json::binary({1, 2, 3})}};
  EXPECT_EQ(written(binary), dumped(binary));
}

// Values written one by one where they stand in a document give the document's text; what is
// left to the library (binary values here, text that is not UTF-8) is written at its depth
// too, or throws what the library throws.
TEST(JsonText, NestedValuesGiveTheTextTheyHaveInTheDocument) {
  const Json records = {Json::object(),
                        {{"name", "a \"b\"\n"}, {"list", {1, {{"x", nullptr}}}}},
                        {{"bytes", Json::binary({1, 2})}, {"sizes", {1, 2}}},
                        Json::array(),
                        3.5};
  const Json doc = {{"records", records}};
  std::string text = "{\n  \"records\": [";
  for (std::size_t i = 0; i < records.size(); ++i) {
    text += i == 0 ? "\n    " : ",\n    ";
    appendIndentedJson(text, records[i], 4);
  }
  text += "\n  ]\n}";
  EXPECT_EQ(text, doc.dump(2));

  const Json bad = {{"name", "ok \x80 no"}};
  std::string partial;
  appendIndentedJson(partial, bad, 4);
  EXPECT_EQ(partial, "{\n      \"name\": \"ok \xef\xbf\xbd no\"\n    }");
}

// Random documents of random bytes, some of them UTF-8 and some not.
TEST(JsonText, RandomDocumentsGiveTheSameText) {
  std::mt19937 random(20261210);
  auto text = [&random] {
    static const std::string pieces[] = {"a",
                                         "Z",
                                         " ",
                                         "\"",
                                         "\\",
                                         "\n",
                                         "\x01",
                                         "\x1f",
                                         "\x7f",
                                         "\xc3\xa9",
                                         "\xe2\x82\xac",
                                         "\xf0\x9f\x98\x80",
                                         "\xc3",
                                         "\x80",
                                         "\xed\xbf\xbf",
                                         "\xf5\x80\x80\x80"};
    std::string out;
    const int n = static_cast<int>(random() % 8);
    for (int i = 0; i < n; ++i) out += pieces[random() % std::size(pieces)];
    return out;
  };
  std::function<Json(int)> value = [&](int depth) -> Json {
    switch (random() % (depth > 3 ? 5 : 7)) {
      case 0:
        return text();
      case 1:
        return static_cast<std::int64_t>(random()) - (1LL << 31);
      case 2:
        return static_cast<double>(random()) / 7.0;
      case 3:
        return random() % 2 == 0;
      case 4:
        return nullptr;
      case 5: {
        Json a = Json::array();
        for (int i = static_cast<int>(random() % 4); i > 0; --i) a.push_back(value(depth + 1));
        return a;
      }
      default: {
        Json o = Json::object();
        for (int i = static_cast<int>(random() % 4); i > 0; --i) o[text()] = value(depth + 1);
        return o;
      }
    }
  };
  int replaced = 0;
  for (int round = 0; round < 2000; ++round) {
    const Json doc = value(0);
    const std::string expected = dumped(doc);
    ASSERT_EQ(written(doc), expected) << round;
    replaced += expected.find("\xef\xbf\xbd") != std::string::npos ? 1 : 0;
  }
  // Both kinds of document were met.
  EXPECT_GT(replaced, 100);
  EXPECT_LT(replaced, 1900);
}

// The photo records' own writer gives what the generic writer gives for their JSON, for a
// record of an older backup, a current Live Photo render, and text needing escapes; text
// that is not UTF-8 is left to the library.
TEST(JsonText, PhotoRecordsWrittenDirectlyAsTheirJson) {
  MzPhotoAndVideoNode older;
  older.fileNodeName = "00000001.jpg";
  older.fileNodeSize = "24.00K";
  older.filePath = "/b/ab/ab12";
  older.fileSizeNumber = 24000;
  MzPhotoAndVideoNode current = older;
  current.devicePath = "Media/DCIM/100APPLE/IMG_0001.HEIC";
  current.captureDate = "2023-11-14 22:13";
  current.originalFileName = "Beach \"sunset\"\t.HEIC";
  current.bLivePhoto = true;
  current.bmov = true;
  current.bSelected = true;
  current.livePhotoMoviePath = "/b/cd/cd34";
  current.livePhotoMovieName = "IMG_0001.MOV";
  current.livePhotoMovieSize = std::numeric_limits<std::uint64_t>::max();
  current.renderOf = "Media/DCIM/100APPLE/IMG_0001.HEIC";
  for (const MzPhotoAndVideoNode& r : {older, current}) {
    std::string direct = "[";
    std::string generic = "[";
    ASSERT_TRUE(appendRecordJson(direct, r, 4));
    appendIndentedJson(generic, toJson(r), 4);
    EXPECT_EQ(direct, generic);
  }
  current.fileNodeName = "\xff.jpg";
  std::string direct = "[";
  EXPECT_FALSE(appendRecordJson(direct, current, 4));
  EXPECT_EQ(direct, "[");
}

}  // namespace
