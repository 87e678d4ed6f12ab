#include "extract/notes_scanner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include "base/log.h"
#include "catalogue/manifest_reader.h"
#include "catalogue/stored_file.h"
#include "device_builders.h"
#include "extract/device_databases.h"
#include "extract/note_store_body.h"
#include "fixture_support.h"
#include "sample_backup.h"
#include "schema_file.h"
#include "support/folder_hash.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using nlohmann::json;

struct NotesRun {
  std::vector<std::shared_ptr<MzNoteNode>> posted;
  std::vector<std::shared_ptr<MzNoteNode>> deleted;  // "ScanDelNoteInfo"
  std::vector<std::int32_t> progress;
  std::vector<std::string> logged;
};

NotesRun runNotesStep(const std::string& folder, bool readIndex = false) {
  NotesRun r;
  StepHarness step(folder);
  if (readIndex) step.readIndex();
  step.center.addObserver("ScanNoteInfo", [&](const std::any& o) {
    r.posted.push_back(std::any_cast<std::shared_ptr<MzNoteNode>>(o));
  });
  step.center.addObserver("ScanDelNoteInfo", [&](const std::any& o) {
    r.deleted.push_back(std::any_cast<std::shared_ptr<MzNoteNode>>(o));
  });
  step.center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    r.progress.push_back(std::any_cast<std::int32_t>(o));
  });
  step.run(scanNoteThread);
  r.logged = step.logged;
  return r;
}

void makeDatabase(const std::string& path, const std::string& sql) { writeSqlDatabase(path, sql); }

class NotesOfEveryGeneration : public testing::TestWithParam<int> {};

TEST_P(NotesOfEveryGeneration, EveryLiveNoteWithItsFieldsAndTheBackupUntouched) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  fixtures::BackupBuildOptions options;
  options.generation = GetParam();
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(tmp.sub("Backup/b"), options, &built, &error)) << error;
  const auto before = folderFingerprint(built.backupFolder);

  NotesRun r = runNotesStep(built.backupFolder, true);
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{70});

  std::size_t live = 0;
  for (const json& truth : built.truth["notes"]) {
    const std::string title = truth["title"];
    auto it = std::find_if(r.posted.begin(), r.posted.end(),
                           [&](const auto& n) { return n->noteTitle == title; });
    if (truth["deleted"].get<bool>()) {
      EXPECT_EQ(it, r.posted.end()) << title;
      continue;
    }
    ++live;
    ASSERT_NE(it, r.posted.end()) << title;
    const MzNoteNode& note = **it;
    EXPECT_EQ(note.noteDate, fixtures::formatUtcDateText(truth["modified_unix"].get<double>()));
    EXPECT_EQ(note.noteContent, cleanNoteBody(truth["body"].get<std::string>()));
    EXPECT_EQ(note.uid, -1);
    EXPECT_FALSE(note.bDeleted);
    EXPECT_EQ(note.origin, RecordOrigin::live("notes.sqlite", "ZNOTE", truth["pk"]));
  }
  EXPECT_EQ(r.posted.size(), live);
  EXPECT_GE(live, 3u);
  // The first note's body, cleaned, as the user reads it.
  EXPECT_EQ(r.posted.front()->noteContent, "Shopping\nMilk\nEggs x2\n\nCinnamon buns");
  EXPECT_EQ(folderFingerprint(built.backupFolder), before);
}

INSTANTIATE_TEST_SUITE_P(Generations, NotesOfEveryGeneration, testing::Values(5, 6, 7));

// A current device's NoteStore.sqlite: every note with its folder, account, dates and body;
// the locked note without its (encrypted) body, the note in Recently Deleted as a deleted one.
TEST(NotesStep, EveryNoteOfTheCurrentStoreAgainstTheTruth) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::currentNotesDescription(), tmp.sub("Backup/b"),
                                    fixtures::currentDeviceBackup(), &built, &error))
      << error;
  NotesRun r = runNotesStep(built.backupFolder, true);
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{70});

  std::size_t locked = 0, deleted = 0;
  for (const json& truth : built.truth["notes"]) {
    const std::string title = truth["title"];
    const bool isDeleted = truth["deleted"].get<bool>();
    const auto& list = isDeleted ? r.deleted : r.posted;
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const auto& n) { return n->noteTitle == title; });
    ASSERT_NE(it, list.end()) << title;
    const MzNoteNode& note = **it;
    EXPECT_EQ(note.noteDate, fixtures::formatUtcDateText(truth["modified_unix"].get<double>()));
    EXPECT_EQ(note.createdDate, fixtures::formatUtcDateText(truth["created_unix"].get<double>()));
    EXPECT_EQ(note.folder, truth["folder"].get<std::string>()) << title;
    EXPECT_EQ(note.account, "iCloud");
    EXPECT_EQ(note.locked, truth["locked"].get<bool>()) << title;
    EXPECT_EQ(note.noteContent, truth["body"].get<std::string>()) << title;
    EXPECT_EQ(note.bDeleted, isDeleted);
    // Marked for deletion or not, a note of the store is a live row.
    EXPECT_EQ(note.origin,
              RecordOrigin::live("NoteStore.sqlite", "ZICCLOUDSYNCINGOBJECT", truth["pk"]));
    locked += note.locked;
    deleted += isDeleted;
  }
  EXPECT_EQ(r.posted.size() + r.deleted.size(), built.truth["notes"].size());
  EXPECT_EQ(locked, 1u);
  EXPECT_EQ(deleted, 1u);
  // The body as the app keeps it: plain lines; the locked note keeps no text.
  EXPECT_EQ(r.posted.front()->noteContent, "Shopping\nMilk\nEggs x2\nCinnamon buns");
  EXPECT_EQ(r.posted[1]->folder, "Travel");
  EXPECT_TRUE(r.posted[2]->noteContent.empty());
}

// The iOS 9 store's table has half the columns of the iOS 17 one (the creation date is the
// bare ZCREATIONDATE) and files notes in folders through the join table Z_12NOTES; a body
// that does not inflate leaves the note without text, one over the limit shows the marker.
TEST(NotesStep, TheIos9StoreAndBodiesThatCannotBeShown) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  const auto schema = fixtures::loadSchema(fixtures::schemaPath(9, "NoteStore.sqlite"));
  ASSERT_TRUE(schema);
  auto db = fixtures::SchemaDatabase::create(
      backup.sub(fileKeyFor(devicedb::kNoteStore.domain, devicedb::kNoteStore.path)), *schema, {});
  ASSERT_TRUE(db);
  db->insert("ZICCLOUDSYNCINGOBJECT",
             {{"Z_PK", std::int64_t{1}}, {"ZNAME", "On My iPhone"}, {"ZIDENTIFIER", "A"}});
  db->insert("ZICCLOUDSYNCINGOBJECT", {{"Z_PK", std::int64_t{2}},
                                       {"ZOWNER", std::int64_t{1}},
                                       {"ZTITLE2", "Notes"},
                                       {"ZIDENTIFIER", "F"}});
  const std::vector<std::vector<std::uint8_t>> bodies = {
      fixtures::gzipped(fixtures::noteStoreProtobuf("Keys\nUnder the mat")),
      {0x1f, 0x8b, 0x08, 0x00},
      fixtures::gzipped(fixtures::noteStoreProtobuf(std::string(kNoteBodyInflateLimit, 'x')))};
  for (std::int64_t i = 0; i < 3; ++i) {
    db->insert("ZICCLOUDSYNCINGOBJECT", {{"Z_PK", 10 + i},
                                         {"ZNOTEDATA", 20 + i},
                                         {"ZCREATIONDATE", 441763100.0},
                                         {"ZMODIFICATIONDATE1", 441763200.5},
                                         {"ZTITLE1", "Note " + std::to_string(i)},
                                         {"ZIDENTIFIER", "N" + std::to_string(i)}});
    db->insert("Z_12NOTES", {{"Z_12FOLDERS", std::int64_t{2}}, {"Z_9NOTES", 10 + i}});
    db->insert("ZICNOTEDATA", {{"Z_PK", 20 + i},
                               {"ZNOTE", 10 + i},
                               {"ZDATA", fixtures::Blob{bodies[static_cast<std::size_t>(i)]}}});
  }
  ASSERT_TRUE(db->close()) << db->error();

  NotesRun r = runNotesStep(backup.path());
  ASSERT_EQ(r.posted.size(), 3u);
  EXPECT_EQ(r.posted[0]->noteTitle, "Note 0");
  EXPECT_EQ(r.posted[0]->noteContent, "Keys\nUnder the mat");
  EXPECT_EQ(r.posted[0]->createdDate, "12-31-2014 23:58");
  EXPECT_EQ(r.posted[0]->noteDate, "01-01-2015 00:00");
  EXPECT_EQ(r.posted[0]->folder, "Notes");
  EXPECT_EQ(r.posted[0]->account, "On My iPhone");
  EXPECT_EQ(r.posted[1]->noteContent, "");
  EXPECT_EQ(r.posted[2]->noteContent, kNoteBodyTooLargeMark);
  EXPECT_TRUE(r.deleted.empty());
}

TEST(NotesStep, TheOlderNotesDatabaseIsReadWithItsOwnText) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  // notes.db of the first devices, under its second key; dates count from 2001.
  makeDatabase(backup.sub(devicedb::kNotesSecondKey),
               "CREATE TABLE Note (creation_date INTEGER, title TEXT, summary TEXT, "
               "contains_cjk INTEGER, modification_date INTEGER);"
               "CREATE TABLE note_bodies (note_id INTEGER, data, UNIQUE(note_id));"
               "INSERT INTO Note(ROWID, creation_date, title, modification_date) "
               "VALUES(1, 441763100, 'Keys', 441763200);"
               "INSERT INTO note_bodies VALUES(1, 'Keys<div>Under the mat</div>');"
               "INSERT INTO Note(ROWID, title, modification_date) VALUES(2, NULL, NULL);");
  NotesRun r = runNotesStep(backup.path());
  ASSERT_EQ(r.posted.size(), 2u);
  EXPECT_EQ(r.posted[0]->noteTitle, "Keys");
  EXPECT_EQ(r.posted[0]->noteDate, "01-01-2015 00:00");
  EXPECT_EQ(r.posted[0]->noteContent, "Keys\nUnder the mat");
  // A note without title, date or body keeps the empty texts.
  EXPECT_EQ(r.posted[1]->noteTitle, "");
  EXPECT_EQ(r.posted[1]->noteDate, "");
  EXPECT_EQ(r.posted[1]->noteContent, "");
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{70});
}

TEST(NotesStep, MissingAndUnreadableDatabases) {
  TempDir backup;
  NotesRun missing = runNotesStep(backup.path());
  EXPECT_TRUE(missing.posted.empty());
  EXPECT_TRUE(missing.progress.empty());
  EXPECT_EQ(missing.logged, std::vector<std::string>{"NoteDB is not exist"});

  // A file that is no database, and a database with neither layout: progress all the same.
  backup.writeFile(devicedb::kNotesKey, std::string(4096, 'n'));
  NotesRun junk = runNotesStep(backup.path());
  EXPECT_TRUE(junk.posted.empty());
  EXPECT_EQ(junk.progress, std::vector<std::int32_t>{70});
  // The damaged database is named, not shown as empty notes.
  ASSERT_EQ(junk.logged.size(), 1u);
  EXPECT_NE(junk.logged[0].find("not a SQLite database"), std::string::npos);

  std::filesystem::remove(backup.sub(devicedb::kNotesKey));
  makeDatabase(backup.sub(devicedb::kNotesKey), "CREATE TABLE other (x);");
  NotesRun neither = runNotesStep(backup.path());
  EXPECT_TRUE(neither.posted.empty());
  EXPECT_EQ(neither.progress, std::vector<std::int32_t>{70});
}

}  // namespace
