// Index records say whether their manifest entry is a folder or a link, in both layouts.
#include <gtest/gtest.h>

#include "backup_writer.h"
#include "base/notification_center.h"
#include "catalogue/manifest_reader.h"
#include "support/temp_dir.h"

namespace {

class EntryKinds : public testing::TestWithParam<fixtures::ManifestLayout> {};

TEST_P(EntryKinds, FoldersLinksAndFiles) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.setManifestLayout(GetParam());
  writer.addDirectory("CameraRollDomain", "Media/PhotoData/Thumbnails/IMG_0001.JPG");
  fixtures::MbdbEntry link;
  link.domain = "HomeDomain";
  link.path = "Library/Caches/latest.jpg";
  link.linkTarget = "/var/mobile/Media/DCIM/100APPLE/IMG_0002.JPG";
  link.mode = 0120755;
  writer.addEntry(link);
  writer.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0002.JPG", {0xFF, 0xD8, 0xFF});
  ASSERT_TRUE(writer.write());

  NotificationCenter center;
  FileIndex index;
  ManifestReadOptions options;
  options.nc = &center;
  ASSERT_EQ(scanDirAnalyThread(writer.folder(), index, options).status, ManifestStatus::Read);
  ASSERT_EQ(index.size(), 3u);
  EXPECT_TRUE(index[0]->isFolder);
  EXPECT_FALSE(index[0]->isLink);
  EXPECT_FALSE(index[1]->isFolder);
  EXPECT_TRUE(index[1]->isLink);
  EXPECT_FALSE(index[2]->isFolder);
  EXPECT_FALSE(index[2]->isLink);
}

INSTANTIATE_TEST_SUITE_P(Layouts, EntryKinds,
                         testing::Values(fixtures::ManifestLayout::Mbdb,
                                         fixtures::ManifestLayout::Db));

}  // namespace

namespace {

// A long path is cut to 259 bytes; a cut inside a multi-byte character moves back to the
// character's start instead of making the whole path undecodable.
TEST(LongPaths, CutAtACharacterBoundary) {
  std::string path = std::string(258, 'a') + "\xC3\xA9" + "tail";  // é spans bytes 258-259
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("b"));
  writer.addFile("HomeDomain", path, {'x'});
  writer.addFile("HomeDomain", std::string(300, 'b'), {'y'});
  ASSERT_TRUE(writer.write());
  NotificationCenter center;
  FileIndex index;
  ManifestReadOptions options;
  options.nc = &center;
  scanDirAnalyThread(writer.folder(), index, options);
  ASSERT_EQ(index.size(), 2u);
  EXPECT_EQ(index[0]->filePath, std::string(258, 'a'));
  EXPECT_EQ(index[1]->filePath, std::string(259, 'b'));
}

}  // namespace
