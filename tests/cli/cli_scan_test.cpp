// retrievo scan and show, run as a user would run them on the sample backup.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "backup_builder.h"
#include "backup_writer.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/run_command.h"

namespace {

using nlohmann::json;

CommandResult retrievo(const std::vector<std::string>& args) {
  return runCommand(RETRIEVO_CLI_PATH, args);
}

class CliScan : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new TempDir;
    folder_ = tmp_->sub("Backup/" + fixtures::sampleBackupFolderName());
    fixtures::BackupBuildResult built;
    std::string error;
    ASSERT_TRUE(fixtures::buildSampleBackup(folder_, {}, &built, &error)) << error;
    truth_ = built.truth;
  }
  static void TearDownTestSuite() {
    delete tmp_;
    tmp_ = nullptr;
  }
  static std::size_t liveTruth(const char* category) {
    std::size_t n = 0;
    for (const auto& r : truth_[category]) n += r.value("deleted", false) ? 0 : 1;
    return n;
  }

  static inline TempDir* tmp_ = nullptr;
  static inline std::string folder_;
  static inline json truth_;
};

TEST_F(CliScan, JsonDocumentLayoutAndCounts) {
  const auto before = folderFingerprint(folder_);
  CommandResult r = retrievo({"scan", folder_, "--json", "-", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");
  json doc = json::parse(r.out);
  for (const char* key : {"backup", "counts", "contacts", "conversations", "calls", "notes",
                          "bookmarks", "calendar", "photos", "appPhotos", "social"}) {
    EXPECT_TRUE(doc.contains(key)) << key;
  }
  EXPECT_EQ(doc["backup"]["strDeviceName"], "Emma's iPhone");
  EXPECT_EQ(doc["backup"]["backUpFilePath"], folder_);
  for (const auto& [name, counts] : doc["counts"].items()) {
    EXPECT_TRUE(counts.contains("live") && counts.contains("deleted")) << name;
    // Conversations are counted by their messages, as the scan's message counter does.
    std::size_t records = doc[name].size();
    if (name == "conversations") {
      records = 0;
      for (const auto& c : doc[name]) records += c["MessageNodeArray"].size();
    }
    EXPECT_EQ(records, counts["live"].get<std::size_t>() + counts["deleted"].get<std::size_t>())
        << name;
  }
  EXPECT_EQ(doc["counts"]["contacts"]["live"], liveTruth("contacts"));
  EXPECT_EQ(doc["counts"]["conversations"]["live"], liveTruth("messages"));
  const json& conversation = doc["conversations"][0];
  for (const char* key :
       {"messageTreeNodeName", "messageTreeNodeAdress", "bdeleted", "MessageNodeArray"}) {
    EXPECT_TRUE(conversation.contains(key)) << key;
  }

  const json& anna = doc["contacts"][0];
  for (const char* key : {"rowid", "contactName", "contactPhone", "contactEmail", "contactHomepage",
                          "contactCompany", "contactBirthday", "contactJobtitle", "contactNote",
                          "contactAdress", "imageData", "bDeleted", "bSelected"}) {
    EXPECT_TRUE(anna.contains(key)) << key;
  }
  EXPECT_EQ(anna["imageData"], truth_["contacts"][0]["picture_bytes"]);  // bytes as a count
  EXPECT_EQ(anna["contactValues"][0],
            (json{{"kind", "phone"}, {"label", "Mobile"}, {"value", "+46 70 555 12 34"}}));
  EXPECT_TRUE(doc["contacts"][1]["imageData"].is_null());
  // Where each record came from: a live row by its table and row id, a carved record by its
  // page and offset, each with the fields that apply only.
  EXPECT_EQ(anna["origin"], (json{{"kind", "live"},
                                  {"file", "AddressBook.sqlitedb"},
                                  {"table", "ABPerson"},
                                  {"rowid", truth_["contacts"][0]["rowid"]}}));
  // The schema carver's records name the place they lay in, a log frame with its frame,
  // commit and checksum; a cell the log removed from the database file names no place.
  std::size_t carved = 0, bySchema = 0;
  for (const char* category : {"contacts", "calls", "notes", "bookmarks", "calendar"}) {
    for (const json& record : doc[category]) {
      if (!record["bDeleted"].get<bool>() || record["origin"]["kind"] != "carved") continue;
      ++carved;
      const json& origin = record["origin"];
      std::set<std::string> keys;
      for (const auto& [key, value] : origin.items()) keys.insert(key);
      const std::string place = origin.value("place", "");
      std::set<std::string> expected = {"kind", "file", "page", "offset", "place"};
      if (place == "log frame") expected.insert({"frame", "commit", "badChecksum"});
      if (place.empty()) expected.erase("place");
      EXPECT_EQ(keys, expected) << origin;
      const std::set<std::string> places = {"record signature", "freeblock",     "unallocated",
                                            "freelist",         "beyond b-tree", "overflow",
                                            "log frame",        "journal",       ""};
      EXPECT_TRUE(places.contains(place)) << origin;
      EXPECT_GE(origin["page"].get<std::int64_t>(), 1);
      if (place != "record signature") ++bySchema;
    }
  }
  EXPECT_GT(carved, 0u);
  EXPECT_GT(bySchema, 0u);
  EXPECT_EQ(folderFingerprint(folder_), before);
}

TEST_F(CliScan, TableProgressAndJsonFile) {
  const std::string out = tmp_->sub("result.json");
  CommandResult r = retrievo({"scan", folder_, "--json", out});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("contacts       " + std::to_string(liveTruth("contacts"))),
            std::string::npos)
      << r.out;
  // Not a terminal: one line per step, then the end.
  EXPECT_NE(r.err.find("scan: 40%\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("scan: done\n"), std::string::npos) << r.err;
  EXPECT_TRUE(json::parse(slurp(out)).contains("counts"));

  CommandResult cannot = retrievo({"scan", folder_, "--json", tmp_->sub("no/such/dir/x.json")});
  EXPECT_EQ(cannot.exitCode, 1);
}

TEST_F(CliScan, ShowOneCategory) {
  CommandResult r = retrievo({"show", folder_, "contacts"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  for (const auto& c : truth_["contacts"]) {
    if (c.value("deleted", false)) continue;
    EXPECT_NE(r.out.find(c["name"].get<std::string>()), std::string::npos) << c["name"];
  }
  EXPECT_NE(r.out.find("Company"), std::string::npos);

  CommandResult js = retrievo({"show", folder_, "contacts", "--json"});
  ASSERT_EQ(js.exitCode, 0);
  std::size_t live = 0;
  for (const auto& c : json::parse(js.out)) live += c["bDeleted"].get<bool>() ? 0 : 1;
  EXPECT_EQ(live, liveTruth("contacts"));

  // The deleted-only view holds carved contacts alone, and the sample's deleted contacts
  // are among them.
  CommandResult deleted = retrievo({"show", folder_, "contacts", "--deleted-only", "--json"});
  ASSERT_EQ(deleted.exitCode, 0);
  std::set<std::string> carved;
  for (const auto& c : json::parse(deleted.out)) {
    EXPECT_TRUE(c["bDeleted"].get<bool>());
    carved.insert(c.value("contactName", ""));
  }
  for (const auto& c : truth_["contacts"]) {
    if (c.value("deleted", false)) {
      EXPECT_EQ(carved.count(c["name"].get<std::string>()), 1u) << c["name"];
    }
  }

  CommandResult bad = retrievo({"show", folder_, "nonsense"});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_NE(bad.err.find("unknown category: nonsense"), std::string::npos);
  EXPECT_EQ(retrievo({"show", tmp_->sub("missing"), "contacts"}).exitCode, 1);
  EXPECT_EQ(retrievo({"scan", "--help"}).exitCode, 0);
  EXPECT_EQ(retrievo({"show", "--help"}).exitCode, 0);
}

// The reading list's entries say what they are, in the table and in JSON; without a
// History.db there is no column of visits.
TEST_F(CliScan, ReadingListEntriesAreMarked) {
  CommandResult table = retrievo({"show", folder_, "bookmarks"});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("Kind"), std::string::npos);
  EXPECT_EQ(table.out.find("Last visit"), std::string::npos);

  CommandResult js = retrievo({"show", folder_, "bookmarks", "--json"});
  ASSERT_EQ(js.exitCode, 0);
  std::set<std::string> marked, expected;
  for (const auto& b : json::parse(js.out)) {
    EXPECT_FALSE(b.contains("visitCount")) << b.dump();
    if (b.value("kind", "") == "Reading list") marked.insert(b["bookMarkURL"].get<std::string>());
  }
  for (const auto& b : truth_["bookmarks"]) {
    if (b.value("kind", "") == "Reading list") expected.insert(b["url"].get<std::string>());
  }
  EXPECT_EQ(expected.size(), 2u);
  EXPECT_EQ(marked, expected);
}

TEST(CliScanRefusal, EncryptedBackup) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("locked"));
  fixtures::DeviceInfo device;
  device.encrypted = true;
  writer.setDevice(device);
  writer.addFile("HomeDomain", "Library/x", {'x'});
  ASSERT_TRUE(writer.write());
  CommandResult r = retrievo({"scan", writer.folder()});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err,
            "retrievo: the backup is encrypted; give its password with --password-file FILE "
            "or RETRIEVO_BACKUP_PASSWORD: " +
                writer.folder() + "\n");
}

// The live records of one category of the scan document, or of the truth: `field` of each.
std::multiset<std::string> liveTexts(const json& list, const char* field, const char* deleted) {
  std::multiset<std::string> out;
  for (const auto& r : list) {
    if (!r.value(deleted, false)) out.insert(r.value(field, std::string()));
  }
  return out;
}

// A current iPhone's backup as a user meets it: every category of `scan --json` holds the live
// records the builder wrote, with what only current devices keep (addresses, chats, call
// kinds, note folders and attachments, reading list and history, reminders, photo names).
TEST(CliCurrentDevice, EveryCategoryOfTheScanDocumentAgainstTheTruth) {
  TempDir tmp;
  const std::string folder = tmp.sub("Backup/" + fixtures::sampleBackupFolderName());
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::currentDeviceDescription(), folder,
                                    fixtures::currentDeviceBackup(), &built, &error))
      << error;
  const CommandResult scan = retrievo({"scan", folder, "--json", "-", "--quiet"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  const json doc = json::parse(scan.out);
  const json& truth = built.truth;

  EXPECT_EQ(liveTexts(doc["contacts"], "contactName", "bDeleted"),
            liveTexts(truth["contacts"], "name", "deleted"));
  std::size_t addresses = 0, truthAddresses = 0;
  for (const auto& c : doc["contacts"]) {
    for (const auto& v : c.value("contactValues", json::array()))
      addresses += v["kind"] == "address";
  }
  for (const auto& c : truth["contacts"]) {
    if (!c["deleted"].get<bool>()) truthAddresses += c.value("addresses", json::array()).size();
  }
  EXPECT_EQ(addresses, truthAddresses);
  EXPECT_GT(truthAddresses, 0u);
  // The record signature carver was not made for these contacts: every deleted contact shown
  // is one the builder deleted, by its name or by its numbers alone; no live contact's values
  // and no empty record come back as deleted.
  std::set<std::string> deletedNames, deletedNumbers, shown;
  for (const auto& c : truth["contacts"]) {
    if (!c.value("deleted", false)) continue;
    deletedNames.insert(c.value("name", ""));
    for (const auto& phone : c.value("phones", json::array())) {
      deletedNumbers.insert(phone.get<std::string>());
    }
  }
  for (const auto& c : doc["contacts"]) {
    if (!c.value("bDeleted", false)) continue;
    const std::string name = c.value("contactName", "");
    const json values = c.value("contactValues", json::array());
    if (name.empty()) {
      EXPECT_FALSE(values.empty()) << c.dump();
      for (const auto& v : values) EXPECT_EQ(deletedNumbers.count(v.value("value", "")), 1u) << v;
    } else {
      EXPECT_EQ(deletedNames.count(name), 1u) << name;
    }
    shown.insert(name);
  }
  for (const std::string& name : deletedNames) EXPECT_EQ(shown.count(name), 1u) << name;

  json messages = json::array();
  for (const auto& chat : doc["conversations"]) {
    for (const auto& m : chat["MessageNodeArray"]) messages.push_back(m);
  }
  EXPECT_EQ(liveTexts(messages, "messageContent", "bDeleted"),
            liveTexts(truth["messages"], "text", "deleted"));

  EXPECT_EQ(liveTexts(doc["calls"], "callPhone", "bDeleted"),
            liveTexts(truth["calls"], "address", "deleted"));
  EXPECT_EQ(liveTexts(doc["calls"], "callKind", "bDeleted").count("FaceTime Video"), 1u);

  EXPECT_EQ(liveTexts(doc["notes"], "noteTitle", "bDeleted"),
            liveTexts(truth["notes"], "title", "deleted"));
  EXPECT_EQ(liveTexts(doc["notes"], "folder", "bDeleted"),
            liveTexts(truth["notes"], "folder", "deleted"));
  std::size_t attachments = 0;
  for (const auto& n : doc["notes"]) attachments += n.value("attachments", json::array()).size();
  EXPECT_EQ(attachments, 3u);

  const auto bookmarks = liveTexts(doc["bookmarks"], "bookMarkTitle", "bDeleted");
  const auto kinds = liveTexts(doc["bookmarks"], "kind", "bDeleted");
  for (const auto& b : truth["bookmarks"]) {
    if (b["type"] == "leaf" && !b.value("deleted", false)) {
      EXPECT_GE(bookmarks.count(b["title"].get<std::string>()), 1u) << b;
    }
  }
  EXPECT_EQ(kinds.count("Reading list"), 2u);
  EXPECT_EQ(kinds.count("History"), liveTexts(truth["history"], "url", "deleted").size());

  auto calendar = liveTexts(truth["events"], "summary", "deleted");
  calendar.merge(liveTexts(truth["reminders"], "title", "deleted"));
  EXPECT_EQ(liveTexts(doc["calendar"], "calTitle", "bDeleted"), calendar);
  EXPECT_EQ(liveTexts(doc["calendar"], "kind", "bDeleted").count("Reminder"),
            liveTexts(truth["reminders"], "title", "deleted").size());
  // A deleted event shown is one the device deleted, never fragments of live rows.
  std::set<std::string> deletedEvents;
  for (const char* list : {"events", "reminders"}) {
    for (const auto& e : truth[list]) {
      if (e["deleted"].get<bool>())
        deletedEvents.insert(e.value(list[0] == 'e' ? "summary" : "title", ""));
    }
  }
  for (const auto& e : doc["calendar"]) {
    if (e["bDeleted"].get<bool>()) {
      EXPECT_EQ(deletedEvents.count(e["calTitle"]), 1u) << e;
    }
  }

  std::multiset<std::string> photos, truthPhotos;
  for (const auto& p : doc["photos"]) {
    if (p.contains("devicePath")) photos.insert(p["fileNodeName"].get<std::string>());
  }
  for (const auto& p : truth["photos"]) truthPhotos.insert(p["listed_name"].get<std::string>());
  EXPECT_EQ(photos, truthPhotos);
}

}  // namespace
