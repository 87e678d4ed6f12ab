#include "catalogue/folder_size.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

TEST(RegularFilesSize, NestedFilesCountLinksDoNot) {
  TempDir tmp;
  tmp.writeFile("backup/Info.plist", std::string(100, 'i'));
  tmp.writeFile("backup/0a/0a1b2c", std::string(1000, 'a'));
  tmp.writeFile("backup/ff/ff0011", std::string(20, 'f'));
  tmp.writeFile("backup/ff/deeper/still/x", "xyz");
  fs::create_directories(tmp.sub("backup/empty"));
  // Outside the backup: reachable only through links, which are not followed.
  tmp.writeFile("elsewhere/big", std::string(50000, 'b'));
  fs::create_symlink(tmp.sub("elsewhere/big"), tmp.sub("backup/link-to-file"));
  fs::create_directory_symlink(tmp.sub("elsewhere"), tmp.sub("backup/link-to-folder"));
  fs::create_directory_symlink(tmp.sub("backup"), tmp.sub("backup/ff/loop"));
  fs::create_symlink(tmp.sub("nowhere"), tmp.sub("backup/dangling"));

  EXPECT_EQ(regularFilesSize(tmp.sub("backup")), 100u + 1000u + 20u + 3u);
  EXPECT_EQ(regularFilesSize(tmp.sub("backup/empty")), 0u);
  EXPECT_EQ(regularFilesSize(tmp.sub("missing")), 0u);
}

TEST(RegularFilesSize, AnUnreadableFolderAddsNothingAndTheWalkGoesOn) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  TempDir tmp;
  tmp.writeFile("backup/aa/a", std::string(10, 'a'));
  tmp.writeFile("backup/bb/b", std::string(7, 'b'));
  tmp.writeFile("backup/cc/c", std::string(5, 'c'));
  fs::permissions(tmp.sub("backup/bb"), fs::perms::none);
  EXPECT_EQ(regularFilesSize(tmp.sub("backup")), 15u);
  fs::permissions(tmp.sub("backup/bb"), fs::perms::owner_all);
}

}  // namespace
