#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/paths.h"
#include "support/temp_dir.h"

TEST(PrivateFolder, IsMadeOwnerOnlyAndRefusesWhatWasPlanted) {
  TempDir dir;
  const std::string made = dir.sub("Backup");
  EXPECT_EQ(paths::makePrivateFolder(made), "");
  struct stat st {};
  ASSERT_EQ(::lstat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(paths::makePrivateFolder(made), "") << "an existing folder of ours is fine";

  std::filesystem::create_directory(dir.sub("elsewhere"));
  std::filesystem::create_directory_symlink(dir.sub("elsewhere"), dir.sub("Photos"));
  EXPECT_EQ(paths::makePrivateFolder(dir.sub("Photos")), "is a symbolic link");
  dir.writeFile("plain", "x");
  EXPECT_EQ(paths::makePrivateFolder(dir.sub("plain")), "is not a folder");
  EXPECT_NE(paths::makePrivateFolder(dir.sub("no/such/parent")), "");
  EXPECT_TRUE(std::filesystem::is_empty(dir.sub("elsewhere")));
}
