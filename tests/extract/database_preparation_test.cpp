#include "extract/database_preparation.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/device_databases.h"
#include "support/folder_hash.h"
#include "support/temp_dir.h"

namespace {

// Writes a WAL-mode database whose last `inLog` rows live only in its write-ahead log, and
// copies the database and its log to `dbOut` and `walOut` while the writer still holds them.
void writeDatabaseWithRowsInLog(const std::string& scratch, const std::string& dbOut,
                                const std::string& walOut, int inFile, int inLog) {
  const std::string path = scratch + "/live.db";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db,
               "PRAGMA journal_mode=WAL; CREATE TABLE message(ROWID INTEGER PRIMARY KEY, text);",
               nullptr, nullptr, nullptr);
  for (int i = 0; i < inFile; ++i) {
    sqlite3_exec(
        db, ("INSERT INTO message(text) VALUES('checkpointed " + std::to_string(i) + "')").c_str(),
        nullptr, nullptr, nullptr);
  }
  sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  sqlite3_wal_autocheckpoint(db, 0);
  for (int i = 0; i < inLog; ++i) {
    sqlite3_exec(
        db,
        ("INSERT INTO message(text) VALUES('only in the log " + std::to_string(i) + "')").c_str(),
        nullptr, nullptr, nullptr);
  }
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(dbOut).parent_path(), ec);
  std::filesystem::create_directories(std::filesystem::path(walOut).parent_path(), ec);
  std::filesystem::copy_file(path, dbOut, ec);
  ASSERT_FALSE(ec);
  std::filesystem::copy_file(path + "-wal", walOut, ec);
  ASSERT_FALSE(ec);
  sqlite3_close(db);
}

int countRows(const std::string& db, const std::string& where) {
  SqliteDatabase d = SqliteDatabase::openReadOnly(db);
  SqliteStatement s = d.prepare("SELECT count(*) FROM message WHERE " + where);
  return s.step() ? static_cast<int>(s.columnInt(0)) : -1;
}

TEST(DatabasePreparation, LogStoredUnderItsOwnKeyIsFoldedIntoThePrivateCopy) {
  TempDir scratch, backup;
  const std::string stored = backup.sub(devicedb::kMessagesKey);
  const std::string walKey = devicedb::walKeyFor(devicedb::kMessages);
  EXPECT_EQ(walKey, fileKeyFor("HomeDomain", "Library/SMS/sms.db-wal"));
  writeDatabaseWithRowsInLog(scratch.path(), stored, backup.sub(walKey), 3, 2);
  const auto before = folderFingerprint(backup.path());

  std::string workspace;
  {
    DatabasePreparer prep(backup.path());
    auto copy = prep.commitDB(stored, walKey);
    ASSERT_TRUE(copy);
    workspace = prep.workspace();
    EXPECT_EQ(copy->rfind(workspace, 0), 0u);
    struct stat st {};
    ASSERT_EQ(stat(workspace.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The main file of the copy itself holds the log's rows: the carvers read raw pages.
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(*copy + "-wal", ec) &&
                 std::filesystem::file_size(*copy + "-wal", ec) > 0);
    EXPECT_EQ(countRows(*copy, "text LIKE 'only in the log%'"), 2);
    EXPECT_EQ(countRows(*copy, "1"), 5);

    // Later readers of the same database get the same copy.
    EXPECT_EQ(prep.preparedCopy(stored), copy);
    EXPECT_EQ(prep.readOnlyCopy(stored, walKey), copy);
  }
  EXPECT_FALSE(std::filesystem::exists(workspace));
  EXPECT_EQ(folderFingerprint(backup.path()), before);
}

TEST(DatabasePreparation, LogBesideTheStoredFileAndReadOnlyCopies) {
  TempDir scratch, backup;
  const std::string stored = backup.sub("ab/" + std::string(devicedb::kContactPicturesKey));
  writeDatabaseWithRowsInLog(scratch.path(), stored, stored + "-wal", 1, 4);
  const auto before = folderFingerprint(backup.path());
  {
    DatabasePreparer prep(backup.path());
    auto copy = prep.readOnlyCopy(stored, devicedb::walKeyFor(devicedb::kContactPictures));
    ASSERT_TRUE(copy);
    EXPECT_EQ(countRows(*copy, "1"), 5);
  }
  EXPECT_EQ(folderFingerprint(backup.path()), before);
}

TEST(DatabasePreparation, MissingAndDamagedFiles) {
  TempDir backup;
  DatabasePreparer prep(backup.path());
  EXPECT_FALSE(prep.commitDB(backup.sub("nothing-here"), ""));
  EXPECT_EQ(prep.workspace(), "");  // nothing copied, no folder made

  // A file that is not a database is still copied; the checkpoint fails and says so.
  backup.writeFile("garbage", std::string(5000, 'x'));
  testing::internal::CaptureStdout();
  auto copy = prep.commitDB(backup.sub("garbage"), "");
  std::string out = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(copy);
  EXPECT_EQ(std::filesystem::file_size(*copy), 5000u);
  EXPECT_TRUE(out.empty() || out == "Failed to commit\n") << out;
}

TEST(DatabasePreparation, SparseCopiesStopsAndLeftoverFolders) {
  TempDir scratch, backup, parent;
  // A 1 GiB database of a few pages of data: its copy keeps the hole.
  const std::string stored = backup.sub(devicedb::kMessagesKey);
  writeDatabaseWithRowsInLog(scratch.path(), stored, scratch.sub("unused-wal"), 3, 0);
  ASSERT_EQ(::truncate(stored.c_str(), off_t{1} << 30), 0);
  {
    DatabasePreparer prep(backup.path());
    auto copy = prep.readOnlyCopy(stored, "");
    ASSERT_TRUE(copy);
    struct stat st {};
    ASSERT_EQ(::stat(copy->c_str(), &st), 0);
    EXPECT_EQ(st.st_size, off_t{1} << 30);
    EXPECT_LT(st.st_blocks * 512, off_t{4} << 20);
    EXPECT_EQ(countRows(*copy, "1"), 3);
  }
  // A scan told to stop copies nothing and leaves no private folder.
  std::string workspace;
  {
    DatabasePreparer prep(backup.path(), nullptr, [] { return true; });
    EXPECT_FALSE(prep.commitDB(stored, ""));
    workspace = prep.workspace();
  }
  EXPECT_TRUE(workspace.empty() || !std::filesystem::exists(workspace));

  // Folders of runs that have ended are removed; a running one's, a link and others stay.
  const std::string prefix = parent.sub(DatabasePreparer::kWorkspacePrefix);
  parent.writeFile(std::string(DatabasePreparer::kWorkspacePrefix) + "99999999-aaaaaa/copy.db",
                   "x");
  const std::string running = prefix + std::to_string(::getpid()) + "-bbbbbb";
  std::filesystem::create_directories(running);
  std::filesystem::create_directories(parent.sub("keep"));
  std::filesystem::create_symlink(parent.sub("keep"), prefix + "99999998-cccccc");
  EXPECT_EQ(DatabasePreparer::removeStaleWorkspaces(parent.path()), 1);
  EXPECT_FALSE(std::filesystem::exists(prefix + "99999999-aaaaaa"));
  EXPECT_TRUE(std::filesystem::exists(running));
  EXPECT_TRUE(std::filesystem::is_symlink(prefix + "99999998-cccccc"));
}

}  // namespace
