// Where a file key's stored file is found: flat first, then in its two-digit folder.
#include "catalogue/stored_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace {

TEST(StoredFile, KeysOfKnownDeviceFiles) {
  EXPECT_EQ(fileKeyFor("HomeDomain", "Library/SMS/sms.db"),
            "3d0d7e5fb2ce288813306e4d4636395e047a3d28");
  EXPECT_EQ(fileKeyFor("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb"),
            "31bb7ba8914766d4ba40d6dfb6113c8b614be442");
  EXPECT_EQ(fileKeyFor("WirelessDomain", "Library/CallHistory/call_history.db"),
            "2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca");
}

TEST(StoredFile, FlatThenTwoDigitFolderThenFlat) {
  TempDir tmp;
  const std::string key = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";
  // Neither exists: the flat path.
  EXPECT_EQ(storedFilePath(tmp.path(), key), tmp.path() + "/" + key);
  // Only the two-digit one exists.
  tmp.writeFile("3d/" + key, "x");
  EXPECT_EQ(storedFilePath(tmp.path(), key), tmp.path() + "/3d/" + key);
  // A suffixed key is looked up the same way.
  tmp.writeFile("3d/" + key + "-wal", "x");
  EXPECT_EQ(storedFilePath(tmp.path(), key + "-wal"), tmp.path() + "/3d/" + key + "-wal");
  // Both exist: the flat one wins.
  tmp.writeFile(key, "y");
  EXPECT_EQ(storedFilePath(tmp.path(), key), tmp.path() + "/" + key);
  // A key too short for a two-digit folder.
  EXPECT_EQ(storedFilePath(tmp.path(), "a"), tmp.path() + "/a");
}

TEST(StoredFile, OpensOnlyRegularFilesInsideTheBackup) {
  TempDir tmp;
  const std::string backup = tmp.sub("backup");
  tmp.writeFile("backup/ab/key", "stored");
  tmp.writeFile("outside/secret", "not the backup's");
  std::filesystem::create_symlink(tmp.sub("outside/secret"), tmp.sub("backup/link"));
  std::filesystem::create_symlink(tmp.sub("outside"), tmp.sub("backup/cd"));
  ASSERT_EQ(::mkfifo(tmp.sub("backup/fifo").c_str(), 0600), 0);

  OpenedStoredFile ok = openStoredFile(backup + "/", backup + "/ab/key");
  ASSERT_GE(ok.fd, 0) << ok.reason();
  char bytes[6] = {};
  EXPECT_EQ(::read(ok.fd, bytes, 6), 6);
  ::close(ok.fd);
  // A link at the name or on the way, a FIFO (never waited on), a folder, a path that leaves
  // the backup or lies outside it: refused unopened.
  for (const std::string& path :
       {backup + "/link", backup + "/cd/secret", backup + "/fifo", backup + "/ab",
        backup + "/ab/../ab/key", tmp.sub("outside/secret"), backup}) {
    OpenedStoredFile refused = openStoredFile(backup, path);
    EXPECT_EQ(refused.fd, -1) << path;
    EXPECT_TRUE(refused.refused) << path;
    EXPECT_EQ(refused.reason(), "not a regular file inside the backup");
  }
  OpenedStoredFile missing = openStoredFile(backup, backup + "/ab/none");
  EXPECT_FALSE(missing.refused);
  EXPECT_EQ(missing.reason(), "No such file or directory");
}

}  // namespace
