// Where a file key's stored file is found: flat first, then in its two-digit folder.
#include "catalogue/stored_file.h"

#include <gtest/gtest.h>

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

}  // namespace
