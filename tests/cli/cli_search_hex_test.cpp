// retrievo search and hex, run as a user would run them on the sample backup.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "backup_writer.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/run_command.h"

namespace {

using nlohmann::json;

CommandResult retrievo(const std::vector<std::string>& args) {
  return runCommand(RETRIEVO_CLI_PATH, args);
}

// The stored contacts database of the sample (the newer two-digit-folder layout).
constexpr const char* kContactsKey = "31bb7ba8914766d4ba40d6dfb6113c8b614be442";

std::string previewOf(const std::string& bytes) {
  std::string text = bytes;
  for (char& c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) c = '.';
  }
  return text;
}

// The live records of a JSON list (what the carvers add depends on the free space).
json liveOnly(const json& records) {
  json live = json::array();
  for (const auto& r : records) {
    if (!r.value("bDeleted", false)) live.push_back(r);
  }
  return live;
}

class CliSearchHex : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new TempDir;
    folder_ = tmp_->sub("Backup/" + fixtures::sampleBackupFolderName());
    fixtures::BackupBuildOptions options;
    options.layout = fixtures::StoredLayout::TwoDigitFolders;
    std::string error;
    ASSERT_TRUE(fixtures::buildSampleBackup(folder_, options, nullptr, &error)) << error;
  }
  static void TearDownTestSuite() {
    delete tmp_;
    tmp_ = nullptr;
  }
  static std::string contactsDatabase() { return slurp(folder_ + "/31/" + kContactsKey); }

  static inline TempDir* tmp_ = nullptr;
  static inline std::string folder_;
};

TEST_F(CliSearchHex, SearchMatchesTwoFieldsIgnoringCase) {
  CommandResult r = retrievo({"search", folder_, "contacts", "LINDQ", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  json found = liveOnly(json::parse(r.out));
  ASSERT_EQ(found.size(), 1u) << r.out;
  EXPECT_EQ(found[0]["contactName"], "Johan Lindqvist");

  // By phone; a company ("Vårdcentralen Odenplan", "Nordvind AB") is not searched.
  found =
      liveOnly(json::parse(retrievo({"search", folder_, "contacts", "555 12 34", "--json"}).out));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]["contactName"], "Anna Berg");
  EXPECT_TRUE(
      json::parse(retrievo({"search", folder_, "contacts", "nordvind", "--json"}).out).empty());

  // The calendar by title and by note: "Book club" and "Booking 7731-AB" (the live events;
  // what the carver recovers depends on the free space).
  found = json::parse(retrievo({"search", folder_, "calendar", "BOOK", "--json"}).out);
  std::vector<std::string> titles;
  for (const auto& e : found) {
    if (!e["bDeleted"].get<bool>()) titles.push_back(e["calTitle"]);
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"Book club", "Ferry to Visby"}));

  CommandResult table = retrievo({"search", folder_, "calendar", "visby"});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("Ferry to Visby"), std::string::npos) << table.out;
  EXPECT_EQ(table.out.find("Book club"), std::string::npos) << table.out;

  // An empty text gives the whole category.
  CommandResult all = retrievo({"search", folder_, "contacts", "", "--json"});
  CommandResult show = retrievo({"show", folder_, "contacts", "--json"});
  EXPECT_EQ(json::parse(all.out), json::parse(show.out));
}

TEST_F(CliSearchHex, SearchRefusesWhatCannotBeSearched) {
  for (const char* category : {"bookmarks", "photos", "appPhotos", "social", "nonsense"}) {
    CommandResult r = retrievo({"search", folder_, category, "a"});
    EXPECT_EQ(r.exitCode, 2) << category;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(retrievo({"search", tmp_->sub("missing"), "contacts", "a"}).exitCode, 1);
  CommandResult help = retrievo({"search", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Letter case is ignored"), std::string::npos);
}

TEST_F(CliSearchHex, HexPrintsWindowsAndExports) {
  const auto before = folderFingerprint(folder_);
  const std::string bytes = contactsDatabase();
  ASSERT_GT(bytes.size(), 4096u);

  CommandResult whole = retrievo({"hex", folder_, "contacts"});
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  EXPECT_EQ(whole.out, previewOf(bytes) + "\n");
  EXPECT_EQ(whole.out.substr(0, 16), "SQLite format 3.");

  CommandResult window = retrievo({"hex", folder_, "contacts", "--offset", "0", "--length", "16"});
  EXPECT_EQ(window.out, "SQLite format 3.\n");
  window = retrievo({"hex", folder_, "contacts", "--offset", "100", "--length", "50"});
  EXPECT_EQ(window.out, previewOf(bytes.substr(100, 50)) + "\n");
  window = retrievo({"hex", folder_, "contacts", "--offset", std::to_string(bytes.size() - 3)});
  EXPECT_EQ(window.out, previewOf(bytes.substr(bytes.size() - 3)) + "\n");
  EXPECT_EQ(
      retrievo({"hex", folder_, "contacts", "--offset", std::to_string(bytes.size() + 1)}).exitCode,
      2);

  const std::string out = tmp_->sub("contacts.txt");
  CommandResult exported = retrievo({"hex", folder_, "contacts", "--export", out});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(exported.out, out + "\n");
  EXPECT_EQ(slurp(out), previewOf(bytes));
  EXPECT_EQ(retrievo({"hex", folder_, "contacts", "--export", tmp_->sub("no/such/x.txt")}).exitCode,
            1);

  EXPECT_EQ(retrievo({"hex", folder_, "photos"}).exitCode, 2);
  EXPECT_EQ(retrievo({"hex", "--help"}).exitCode, 0);
  EXPECT_EQ(folderFingerprint(folder_), before);
}

TEST(CliHexMissing, BackupWithoutTheDatabase) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("backup"));
  writer.addFile("HomeDomain", "Library/Preferences/com.apple.springboard.plist", {'b', 'p'});
  ASSERT_TRUE(writer.write());
  CommandResult r = retrievo({"hex", writer.folder(), "contacts"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "retrievo: the backup has no contacts database: " + writer.folder() + "\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
