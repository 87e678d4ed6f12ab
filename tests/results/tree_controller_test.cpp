// The backup-browser tree: building in manifest order, ticking down and up, the file table,
// counting and lookup by domain and device path.
#include "results/tree_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "extract/media_scanner.h"
#include "extract/scan_problems.h"
#include "support/temp_dir.h"

namespace {

class RecordingBrowserView : public BackupBrowserView {
 public:
  void reloadTree() override { ++reloads; }
  void expandFirstRow() override { ++expands; }
  void redrawTicks() override { ++redraws; }
  void setFileRows(const std::vector<std::shared_ptr<MzTreeFileNode>>& f) override { files = f; }

  int reloads = 0;
  int expands = 0;
  int redraws = 0;
  std::vector<std::shared_ptr<MzTreeFileNode>> files;
};

std::shared_ptr<MzTreeDirNode> record(const std::string& domain, const std::string& path,
                                      const std::string& key = "") {
  auto r = std::make_shared<MzTreeDirNode>();
  r->fileDomain = domain;
  r->filePath = path;
  r->fileKey = key;
  return r;
}

std::vector<std::string> names(const MzTreeDirNode& dir) {
  std::vector<std::string> out;
  for (const auto& d : dir.children) out.push_back(d->fileName);
  return out;
}

std::vector<std::string> fileNames(const MzTreeDirNode& dir) {
  std::vector<std::string> out;
  for (const auto& f : dir.fileChildren) out.push_back(f->treefileName);
  return out;
}

MzTreeDirNode& child(const MzTreeDirNode& dir, const std::string& name) {
  for (const auto& d : dir.children) {
    if (d->fileName == name) return *d;
  }
  ADD_FAILURE() << "no directory " << name << " in " << dir.fileName;
  static MzTreeDirNode none;
  return none;
}

class TreeTest : public testing::Test {
 protected:
  TreeTest() {
    tree.setView(&view);
    tree.currentDeviceName = [this] { return deviceName; };
    tree.selectionChanged = [this] { ++recounts; };
  }
  void add(const std::string& domain, const std::string& path, const std::string& key = "") {
    tree.addTreeNode(record(domain, path, key));
  }
  MzTreeDirNode& root() { return *tree.roots().at(0); }

  RecordingBrowserView view;
  MzTreeController tree;
  std::string deviceName = "Emma's iPhone";
  int recounts = 0;
};

TEST(TreeNames, CaseInsensitiveNaturalOrderWithExactEquality) {
  EXPECT_LT(compareTreeNames("Aa", "b"), 0);
  EXPECT_LT(compareTreeNames("apple", "Banana"), 0);
  EXPECT_LT(compareTreeNames("IMG_9.JPG", "IMG_10.JPG"), 0);
  EXPECT_LT(compareTreeNames("100APPLE", "101APPLE"), 0);
  EXPECT_LT(compareTreeNames("a", "ab"), 0);
  // Names equal apart from case or leading zeros are still two names, in a fixed order.
  EXPECT_NE(compareTreeNames("Foo", "foo"), 0);
  EXPECT_EQ(compareTreeNames("Foo", "foo"), -compareTreeNames("foo", "Foo"));
  EXPECT_NE(compareTreeNames("007", "7"), 0);
  EXPECT_EQ(compareTreeNames("Library", "Library"), 0);
  // Digits sit between the bytes below '0' and those above '9', whatever the run's value.
  EXPECT_LT(compareTreeNames("-", "99999999999999999999999"), 0);
  EXPECT_LT(compareTreeNames("99999999999999999999999", "a"), 0);
}

TEST_F(TreeTest, LevelsSortedInsertedInPlaceAndFilesInArrivalOrder) {
  add("HomeDomain", "Library/a.db");
  add("HomeDomain", "Library/b/c.db");
  add("HomeDomain", "Library/Aa/x");
  add("HomeDomain", "Library/z.db");
  add("HomeDomain", "Library/B/upper");
  add("HomeDomain", "Library/IMG_10");
  add("HomeDomain", "Library/IMG_9/y");
  add("HomeDomain", "Library/IMG_10/y");

  ASSERT_EQ(tree.roots().size(), 1u);
  EXPECT_EQ(root().fileName, "Emma's iPhone");
  EXPECT_EQ(root().parent, nullptr);
  EXPECT_EQ(names(root()), (std::vector<std::string>{"HomeDomain"}));
  MzTreeDirNode& library = child(child(root(), "HomeDomain"), "Library");
  EXPECT_EQ(names(library), (std::vector<std::string>{"Aa", "B", "b", "IMG_9", "IMG_10"}));
  EXPECT_EQ(fileNames(library), (std::vector<std::string>{"a.db", "z.db", "IMG_10"}));
  EXPECT_EQ(fileNames(child(library, "b")), (std::vector<std::string>{"c.db"}));
  EXPECT_EQ(child(library, "b").parent, &library);
  EXPECT_FALSE(library.isLeaf);
  EXPECT_TRUE(child(library, "b").isLeaf);

  const MzTreeFileNode& c = *child(library, "b").fileChildren[0];
  EXPECT_EQ(c.dirFilePath, "HomeDomain/Library/b/c.db");
  EXPECT_EQ(c.treefileType, "db");
  EXPECT_EQ(library.fileChildren[2]->treefileType, "IMG_10");
  EXPECT_EQ(c.parent, &child(library, "b"));
  // The outline was rearranged for each new directory and its first row expanded.
  EXPECT_GT(view.reloads, 0);
  EXPECT_EQ(view.reloads, view.expands);
  EXPECT_FALSE(tree.bRefreshTreeFlag);
}

TEST_F(TreeTest, DomainDotRootFilesSlashDotAndIgnoredRecords) {
  add(".HiddenDomain", "Library/x.plist");
  add("HomeDomain", "top.plist");
  add("HomeDomain", "Library/.Trash/old.txt");
  add("HomeDomain", "Library//double/f");
  add("HomeDomain", "");  // no device path
  deviceName = "";
  add("HomeDomain", "Library/lost.db");  // no device name
  deviceName = "Emma's iPhone";

  EXPECT_EQ(names(root()), (std::vector<std::string>{"HiddenDomain", "HomeDomain"}));
  MzTreeDirNode& home = child(root(), "HomeDomain");
  EXPECT_EQ(fileNames(home), (std::vector<std::string>{"top.plist"}));
  EXPECT_EQ(home.fileChildren[0]->dirFilePath, "HomeDomain/top.plist");
  MzTreeDirNode& library = child(home, "Library");
  EXPECT_EQ(names(library), (std::vector<std::string>{"double", "Trash"}));
  EXPECT_EQ(child(library, "Trash").fileChildren[0]->dirFilePath,
            "HomeDomain/Library/Trash/old.txt");
  EXPECT_EQ(fileNames(library), std::vector<std::string>{});
  EXPECT_EQ(child(child(root(), "HiddenDomain"), "Library").fileChildren[0]->dirFilePath,
            ".HiddenDomain/Library/x.plist");
  EXPECT_EQ(MzTreeController::countFiles(root()), 4u);
}

TEST_F(TreeTest, FoldersAndLinksOfTheDeviceAreDirectories) {
  auto folder = record("HomeDomain", "Library/Caches");
  folder->isFolder = true;
  auto link = record("HomeDomain", "Library/Current");
  link->isLink = true;
  tree.addTreeNode(folder);
  tree.addTreeNode(link);
  add("HomeDomain", "Library/Caches/cache.db");

  MzTreeDirNode& library = child(child(root(), "HomeDomain"), "Library");
  EXPECT_EQ(names(library), (std::vector<std::string>{"Caches", "Current"}));
  EXPECT_TRUE(library.fileChildren.empty());
  EXPECT_EQ(fileNames(child(library, "Caches")), (std::vector<std::string>{"cache.db"}));
  EXPECT_EQ(MzTreeController::countFiles(root()), 1u);
}

TEST_F(TreeTest, StoredFileSizeAndExistence) {
  TempDir tmp;
  const std::string stored = tmp.sub("0123456789abcdef0123456789abcdef01234567");
  std::ofstream(stored, std::ios::binary) << std::string(12345, 'x');
  add("HomeDomain", "Library/present.db", stored);
  add("HomeDomain", "Library/missing.db", tmp.sub("ffffffffffffffffffffffffffffffffffffffff"));
  add("HomeDomain", "Library/nokey.db", "");

  const auto& files = child(child(root(), "HomeDomain"), "Library").fileChildren;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_TRUE(files[0]->isFile);
  EXPECT_EQ(files[0]->realFileSize, 12345u);
  EXPECT_EQ(files[0]->fileSize, "12.35K");
  EXPECT_EQ(files[0]->filePath, stored);
  for (int i : {1, 2}) {
    EXPECT_FALSE(files[i]->isFile);
    EXPECT_EQ(files[i]->realFileSize, 0u);
    EXPECT_EQ(files[i]->fileSize, "0.00B");
  }
}

// The tree and the media classification look at the same record's stored file once between
// them; a stored file that is a symbolic link still shows in the tree as what it points to,
// and the media classification still passes it over.
TEST_F(TreeTest, AStoredFileThatIsALinkShowsItsTargetAndIsNoMedia) {
  TempDir tmp;
  const std::string target = tmp.writeFile("outside/photo", std::string(2000, 'x'));
  const std::string stored = tmp.sub("backup-link");
  std::filesystem::create_symlink(target, stored);
  const std::string photo = tmp.writeFile("backup-photo", std::string(700, 'y'));
  auto linked = record("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", stored);
  auto plain = record("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0002.JPG", photo);

  NotificationCenter center;
  std::vector<std::shared_ptr<MzPhotoAndVideoNode>> media;
  center.addObserver("ScanPhotoAndVideo", [&](const std::any& o) {
    media.push_back(std::any_cast<std::shared_ptr<MzPhotoAndVideoNode>>(o));
  });
  ScanProblems problems;
  for (const auto& r : {linked, plain}) {  // in the order a scan delivers a record
    tree.addTreeNode(r);
    GetMediaFileByNode(r, center, &problems);
  }

  const auto& files =
      child(child(child(child(root(), "CameraRollDomain"), "Media"), "DCIM"), "100APPLE")
          .fileChildren;
  ASSERT_EQ(files.size(), 2u);
  EXPECT_TRUE(files[0]->isFile);
  EXPECT_EQ(files[0]->realFileSize, 2000u);
  EXPECT_TRUE(files[1]->isFile);
  EXPECT_EQ(files[1]->realFileSize, 700u);
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(media[0]->filePath, photo);
  EXPECT_EQ(media[0]->fileSizeNumber, 700u);
  ASSERT_EQ(problems.problems().size(), 1u);
  EXPECT_EQ(problems.problems()[0].file, "CameraRollDomain-Media/DCIM/100APPLE/IMG_0001.JPG");
  EXPECT_EQ(problems.problems()[0].reason, "skipped: not a regular file inside the backup");
}

TEST_F(TreeTest, TickingDownAndUpTheTree) {
  add("HomeDomain", "Library/a.db");
  add("HomeDomain", "Library/b/c.db");
  add("HomeDomain", "Library/b/d.db");
  MzTreeDirNode& home = child(root(), "HomeDomain");
  MzTreeDirNode& library = child(home, "Library");
  MzTreeDirNode& b = child(library, "b");

  // The root of a tree of three files: all three ticked, every directory ticked.
  tree.outlineViewSetObjectValue(root());
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 3u);
  for (MzTreeDirNode* d : {&root(), &home, &library, &b}) {
    EXPECT_EQ(d->isSelected, 1) << d->fileName;
    EXPECT_EQ(d->nodeIcon, "selected") << d->fileName;
  }
  EXPECT_EQ(recounts, 1);
  EXPECT_EQ(view.redraws, 1);

  // Unticking one file under ticked directories: they all become partly ticked.
  tree.outlineViewSelectionDidChange(&b);
  tree.fileTableSetObjectValue(0, 1);
  EXPECT_FALSE(b.fileChildren[1]->bSelected);
  EXPECT_TRUE(b.fileChildren[0]->bSelected);
  for (MzTreeDirNode* d : {&root(), &home, &library, &b}) {
    EXPECT_EQ(d->isSelected, 2) << d->fileName;
    EXPECT_EQ(d->nodeIcon, "selectedSome") << d->fileName;
  }
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 2u);
  EXPECT_EQ(MzTreeController::getNumSelectedItem(library, 10), 12u);

  // Ticking a partly ticked directory ticks everything below it, and the ancestors whose
  // children are now all ticked follow.
  tree.outlineViewSetObjectValue(library);
  EXPECT_EQ(library.isSelected, 1);
  EXPECT_EQ(b.isSelected, 1);
  EXPECT_TRUE(b.fileChildren[1]->bSelected);
  EXPECT_EQ(home.isSelected, 1);
  EXPECT_EQ(root().isSelected, 1);

  // Unticking it again unticks all.
  tree.outlineViewSetObjectValue(library);
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 0u);
  for (MzTreeDirNode* d : {&root(), &home, &library, &b}) EXPECT_EQ(d->isSelected, 0);

  // A directory whose files are all ticked one by one becomes ticked; its parent, which
  // also holds an unticked file, becomes partly ticked.
  tree.outlineViewSelectionDidChange(&b);
  tree.fileTableSetObjectValue(1, 0);
  EXPECT_EQ(b.isSelected, 2);
  tree.fileTableSetObjectValue(1, 1);
  EXPECT_EQ(b.isSelected, 1);
  EXPECT_EQ(library.isSelected, 2);
  EXPECT_EQ(root().isSelected, 2);

  EXPECT_EQ(MzTreeController::NewStateAfterChangeState(2), 1);
  EXPECT_EQ(MzTreeController::NewStateAfterChangeState(1), 0);
  EXPECT_EQ(MzTreeController::NewStateAfterChangeState(0), 1);
}

TEST_F(TreeTest, SiblingAndMixedStateQueries) {
  add("HomeDomain", "Library/a.db");
  add("HomeDomain", "Library/b/c.db");
  add("HomeDomain", "Library/d/e.db");
  MzTreeDirNode& library = child(child(root(), "HomeDomain"), "Library");
  MzTreeDirNode& b = child(library, "b");
  MzTreeDirNode& d = child(library, "d");
  tree.outlineViewSetObjectValue(b);
  EXPECT_FALSE(MzTreeController::sameLevelState(1, d));
  EXPECT_TRUE(MzTreeController::GetSelectedOverItem(d, 1));
  EXPECT_TRUE(MzTreeController::sameLevelState(0, *library.fileChildren[0]));
  tree.outlineViewSetObjectValue(d);
  EXPECT_TRUE(MzTreeController::sameLevelState(1, d));
  // The file a.db is still unticked: directories agree, the level as a whole does not.
  EXPECT_TRUE(MzTreeController::GetSelectedOverItem(d, 1));
  EXPECT_EQ(library.isSelected, 2);
  EXPECT_TRUE(MzTreeController::sameLevelState(1, root()));
  EXPECT_FALSE(MzTreeController::GetSelectedOverItem(root(), 1));
}

TEST_F(TreeTest, FileTableTicksHighlightedRowsOrTheClickedOne) {
  for (const char* f : {"1.jpg", "2.jpg", "3.jpg", "4.jpg"}) add("CameraRollDomain", f);
  MzTreeDirNode& camera = child(root(), "CameraRollDomain");
  tree.outlineViewSelectionDidChange(&camera);
  EXPECT_EQ(view.files.size(), 4u);
  EXPECT_EQ(tree.shownFiles().size(), 4u);

  tree.fileTableSelectionDidChange({2, 0, 9, 2});
  EXPECT_EQ(tree.highlightedFiles(), (std::vector<std::size_t>{0, 2}));
  tree.fileTableSetObjectValue(1, 2);  // a highlighted row: both highlighted rows
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 2u);
  EXPECT_TRUE(camera.fileChildren[0]->bSelected);
  EXPECT_TRUE(camera.fileChildren[2]->bSelected);
  EXPECT_EQ(camera.isSelected, 2);
  tree.fileTableSetObjectValue(1, 3);  // not highlighted: that row alone
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 3u);
  EXPECT_FALSE(camera.fileChildren[1]->bSelected);
  tree.fileTableSetObjectValue(1, 7);  // past the end: nothing
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 3u);

  // A directory without files empties the table; the highlight is cleared.
  tree.outlineViewSelectionDidChange(&root());
  EXPECT_TRUE(view.files.empty());
  EXPECT_TRUE(tree.highlightedFiles().empty());
  // Selection changes while the tree is rearranged are ignored.
  tree.bRefreshTreeFlag = true;
  tree.outlineViewSelectionDidChange(&camera);
  EXPECT_TRUE(view.files.empty());
}

TEST_F(TreeTest, NewNodesUnderTickedDirectoriesMakeThemPartlyTicked) {
  add("HomeDomain", "Library/a.db");
  MzTreeDirNode& library = child(child(root(), "HomeDomain"), "Library");
  tree.outlineViewSetObjectValue(root());
  ASSERT_EQ(root().isSelected, 1);
  // A first subdirectory under a ticked directory that held only files.
  add("HomeDomain", "Library/Sub/new.db");
  EXPECT_EQ(library.isSelected, 2);
  EXPECT_EQ(root().isSelected, 2);
  EXPECT_EQ(child(library, "Sub").isSelected, 0);

  tree.outlineViewSetObjectValue(root());
  ASSERT_EQ(library.isSelected, 1);
  // A new file in a ticked directory arrives unticked: the directory is no longer all ticked.
  add("HomeDomain", "Library/late.db");
  EXPECT_FALSE(library.fileChildren.back()->bSelected);
  EXPECT_EQ(library.isSelected, 2);
  EXPECT_EQ(library.nodeIcon, "selectedSome");
  EXPECT_EQ(root().isSelected, 2);
}

TEST_F(TreeTest, FindAndSelectByDomainAndDevicePath) {
  add("HomeDomain", "Library/a.db");
  add("HomeDomain", "Library/b/c.db");
  add("HomeDomain", "Library/b/d.db");
  add(".HiddenDomain", "Library/.Prefs/p.plist");
  add("MediaDomain", "top");

  EXPECT_FALSE(tree.selectPath(""));
  EXPECT_FALSE(tree.selectPath("/"));
  EXPECT_FALSE(tree.selectPath("HomeDomain/Library/nothing"));
  EXPECT_FALSE(tree.selectPath("NoDomain"));
  EXPECT_FALSE(tree.selectPath("HomeDomain/Library/a.db/deeper"));
  EXPECT_EQ(recounts, 0);

  EXPECT_TRUE(tree.selectPath("HomeDomain/Library/b/c.db"));
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 1u);
  MzTreeDirNode& b = child(child(child(root(), "HomeDomain"), "Library"), "b");
  EXPECT_EQ(b.isSelected, 2);
  EXPECT_TRUE(tree.selectPath("HomeDomain/Library/b/"));
  EXPECT_EQ(b.isSelected, 1);
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 2u);
  // The path as the device spells it, dots and all, and the domain without its dot.
  EXPECT_TRUE(tree.selectPath(".HiddenDomain/Library/.Prefs/p.plist"));
  EXPECT_TRUE(tree.selectPath("HiddenDomain/Library/Prefs"));
  EXPECT_TRUE(tree.selectPath("MediaDomain/top"));
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 4u);
  EXPECT_EQ(child(root(), "MediaDomain").isSelected, 1);
  EXPECT_TRUE(tree.selectPath("HomeDomain"));
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 5u);
  EXPECT_EQ(root().isSelected, 1);
  EXPECT_TRUE(tree.selectPath("HomeDomain/Library/a.db", false));
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 4u);
  EXPECT_EQ(root().isSelected, 2);

  TreeLocation at = tree.findPath("HomeDomain/Library");
  ASSERT_NE(at.directory, nullptr);
  EXPECT_EQ(at.directory->fileName, "Library");
  EXPECT_TRUE(at.files.empty());
  at = tree.findPath("HomeDomain/Library/a.db");
  EXPECT_EQ(at.directory, nullptr);
  ASSERT_EQ(at.files.size(), 1u);
  EXPECT_EQ(at.files[0]->treefileName, "a.db");
}

TEST_F(TreeTest, ReleaseEmptiesTreeAndTable) {
  add("HomeDomain", "Library/a.db");
  tree.outlineViewSetObjectValue(root());
  tree.outlineViewSelectionDidChange(&child(root(), "HomeDomain"));
  tree.releaseTree();
  EXPECT_TRUE(tree.roots().empty());
  EXPECT_EQ(tree.getTreeSelectedItemNum(), 0u);
  EXPECT_EQ(tree.selectedDirectory(), nullptr);
  EXPECT_TRUE(tree.shownFiles().empty());
  EXPECT_TRUE(view.files.empty());
  add("HomeDomain", "Library/a.db");
  EXPECT_EQ(root().isSelected, 0);
}

}  // namespace
