// The hex preview: the characters of the bytes, which file a category shows, the switch
// between the preview and the category view, and the export.
#include "results/hex_preview.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "base/notification_center.h"
#include "extract/device_databases.h"
#include "results/fake_result_view.h"
#include "results/file_copy.h"
#include "results/result_view_controller.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

const std::string kHeader("SQLite format 3\0", 16);

std::string fileMode(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "missing";
  char text[8];
  std::snprintf(text, sizeof text, "%03o", static_cast<unsigned>(st.st_mode & 0777));
  return text;
}

TEST(HexPreviewText, CharactersOfEveryByteAndWindows) {
  TempDir tmp;
  EXPECT_EQ(*hexPreviewText(tmp.writeFile("a", kHeader)), "SQLite format 3.");
  EXPECT_EQ(*hexPreviewText(tmp.writeFile("b", "\xE9\n~ \x7F\x1F")), "..~ ..");

  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::string text = *hexPreviewText(tmp.writeFile("all", all));
  ASSERT_EQ(text.size(), 256u);
  for (int b = 0; b < 256; ++b) {
    const bool printable = b >= 0x20 && b <= 0x7E;
    EXPECT_EQ(text[b], printable ? static_cast<char>(b) : '.') << b;
  }

  const std::string path = tmp.sub("all");
  EXPECT_EQ(*hexPreviewText(path, {0x41, 3}), "ABC");
  EXPECT_EQ(*hexPreviewText(path, {250, 100}), "......");
  EXPECT_EQ(*hexPreviewText(path, {256, std::nullopt}), "");
  EXPECT_EQ(*hexPreviewText(path, {1000, 5}), "");
  EXPECT_EQ(*hexPreviewText(tmp.writeFile("empty", "")), "");

  // Only regular files are read.
  EXPECT_FALSE(hexPreviewText(tmp.sub("missing")));
  EXPECT_FALSE(hexPreviewText(tmp.path()));
  ASSERT_EQ(::mkfifo(tmp.sub("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(hexPreviewText(tmp.sub("fifo")));  // and it does not hang
  EXPECT_FALSE(regularFileSize(tmp.sub("fifo")));
  EXPECT_FALSE(hexPreviewText(path, {}, [] { return true; }));  // stopped
}

TEST(HexPreviewText, StreamedPiecesGiveTheSameText) {
  TempDir tmp;
  std::string bytes(3 * (1u << 20) + 123, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  const std::string path = tmp.writeFile("db", bytes);
  const std::string whole = *hexPreviewText(path);
  std::string expected = bytes;
  for (char& c : expected) c = hexPreviewCharacter(static_cast<unsigned char>(c));
  ASSERT_EQ(whole, expected);
  std::string streamed;
  std::size_t pieces = 0;
  ASSERT_TRUE(streamHexPreview(path, {}, [&](std::string_view piece) {
    streamed += piece;
    ++pieces;
    return true;
  }));
  EXPECT_EQ(streamed, whole);
  EXPECT_EQ(pieces, 4u);
  std::string window;
  ASSERT_TRUE(streamHexPreview(path, {(1u << 20) - 5, 10}, [&](std::string_view p) {
    window += p;
    return true;
  }));
  EXPECT_EQ(window, whole.substr((1u << 20) - 5, 10));
  EXPECT_FALSE(streamHexPreview(path, {}, [](std::string_view) { return false; }));
}

TEST(HexPreviewFile, AtomicWriteReplacesAndCleansUp) {
  TempDir tmp;
  const std::string path = tmp.sub("out.txt");
  ASSERT_TRUE(writeFileAtomically(path, "first"));
  ASSERT_TRUE(writeFileAtomically(path, "second"));
  EXPECT_EQ(slurp(path), "second");
  EXPECT_EQ(fileMode(path), "600");
  std::string error;
  EXPECT_FALSE(writeFileAtomically(tmp.sub("no/such/out.txt"), "x", &error));
  EXPECT_NE(error.find("no/such"), std::string::npos) << error;
  // An abandoned text leaves the old file and no stray file.
  EXPECT_FALSE(writeFileAtomicallyWith(path, [](const auto& write) {
    write("partial");
    return false;
  }));
  EXPECT_EQ(slurp(path), "second");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(tmp.path())) ++files;
  EXPECT_EQ(files, 1u);
}

class HexPreviewTest : public testing::Test {
 protected:
  HexPreviewTest() : results(center, &view), preview(results) {
    backup = std::make_shared<MzIOSDeviceNode>();
    backup->backUpFilePath = tmp.sub("backup");
    std::filesystem::create_directories(backup->backUpFilePath);
    results.setCurrentBackup(backup);
    preview.fileOpener = [this](const std::string& path) { opened.push_back(path); };
    preview.exportFolder = tmp.sub("home/Documents");
  }

  void press() {
    preview.ActHexPreviewAction();
    preview.waitForWork();
  }

  TempDir tmp;
  NotificationCenter center;
  FakeResultView view;
  MzResultViewController results;
  MzHexPreview preview;
  std::shared_ptr<MzIOSDeviceNode> backup;
  std::vector<std::string> opened;
};

TEST_F(HexPreviewTest, ShowsTheCategoryDatabaseAndReturns) {
  tmp.writeFile(std::string("backup/") + devicedb::kContactsKey, kHeader + "\xE9\nAnna");
  results.actContact();
  press();
  EXPECT_TRUE(view.hexPreviewShown);
  EXPECT_TRUE(preview.bHexPreview);
  EXPECT_EQ(view.hexPreviewText, "SQLite format 3...Anna");
  EXPECT_EQ(*preview.previewText(), view.hexPreviewText);

  view.shownCategory = ResultCategory::Photo;
  preview.ActNormAction();
  EXPECT_FALSE(view.hexPreviewShown);
  EXPECT_FALSE(preview.bHexPreview);
  EXPECT_EQ(view.shownCategory, ResultCategory::Contact);

  // The two-digit-folder layout of newer backups.
  const std::string key = devicedb::kNotesKey;
  tmp.writeFile("backup/" + key.substr(0, 2) + "/" + key, "notes\x01");
  results.actNote();
  press();
  EXPECT_EQ(view.hexPreviewText, "notes.");

  // A category without a database shows the preview with the text it had.
  preview.ActNormAction();
  results.actPhoto();
  press();
  EXPECT_TRUE(view.hexPreviewShown);
  EXPECT_EQ(*preview.previewText(), "notes.");
  preview.ActNormAction();
  EXPECT_EQ(view.shownCategory, ResultCategory::Photo);  // back from any category
  EXPECT_FALSE(view.hexPreviewShown);
}

TEST_F(HexPreviewTest, MissingDatabaseLeavesTheViewAsItWas) {
  results.actContact();
  const int switches = view.hexPreviewSwitches;
  press();
  EXPECT_EQ(view.hexPreviewSwitches, switches);
  EXPECT_FALSE(preview.bHexPreview);
  EXPECT_EQ(view.shownCategory, ResultCategory::Contact);
  EXPECT_EQ(preview.previewText(), nullptr);
  // A folder of the database's name is not a database either.
  std::filesystem::create_directories(tmp.sub(std::string("backup/") + devicedb::kCallsKey));
  results.actCallHistory();
  press();
  EXPECT_FALSE(preview.bHexPreview);
  EXPECT_EQ(hexPreviewDatabasePath(backup->backUpFilePath, ResultCategory::CallHistory), "");
  // A current device's call store, in the two-digit-folder layout.
  const std::string store = devicedb::kCallStoreKey;
  tmp.writeFile("backup/" + store.substr(0, 2) + "/" + store, "store");
  EXPECT_EQ(hexPreviewDatabasePath(backup->backUpFilePath, ResultCategory::CallHistory),
            tmp.sub("backup/" + store.substr(0, 2) + "/" + store));
}

TEST_F(HexPreviewTest, ReturningBeforeTheTextIsReadyDropsIt) {
  tmp.writeFile(std::string("backup/") + devicedb::kCalendarKey, std::string(1 << 20, 'x'));
  results.actCalender();
  preview.ActHexPreviewAction();
  preview.ActNormAction();
  preview.waitForWork();
  // Whenever the text arrived, the category view is what is shown at the end.
  EXPECT_FALSE(view.hexPreviewShown);
  EXPECT_FALSE(preview.bHexPreview);
}

TEST_F(HexPreviewTest, ExportWritesHexFileIntoDocumentsAndOpensIt) {
  tmp.writeFile(std::string("backup/") + devicedb::kBookmarksKey, kHeader);
  results.actBookMark();
  preview.actExportImage();  // nothing shown yet: nothing to export
  preview.waitForWork();
  EXPECT_TRUE(opened.empty());

  press();
  preview.actExportImage();
  preview.waitForWork();
  const std::string expected = tmp.sub("home/Documents/hexFile.txt");
  ASSERT_EQ(opened, std::vector<std::string>{expected});
  EXPECT_EQ(slurp(expected), "SQLite format 3.");
  EXPECT_EQ(fileMode(tmp.sub("home/Documents")), "700");

  // A second export replaces the first.
  tmp.writeFile(std::string("backup/") + devicedb::kBookmarksKey, "v2");
  press();
  preview.actExportImage();
  preview.waitForWork();
  EXPECT_EQ(slurp(expected), "v2");
  EXPECT_EQ(opened.size(), 2u);

  // A folder that cannot be made: nothing written, nothing opened.
  tmp.writeFile("file", "x");
  preview.exportFolder = tmp.sub("file/Documents");
  EXPECT_EQ(preview.ExportHexFileThread(preview.previewText()), "");
  EXPECT_EQ(opened.size(), 2u);
}

}  // namespace
