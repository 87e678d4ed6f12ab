// The backup-browser tree: every file of the scanned backup under the device, its domains and
// the directories of each file's device path, with three-state ticks; and the file table
// beside it, which lists the files of the directory highlighted in the tree.
//
// The tree is filled from the file-index records the manifest reader announces, one record at
// a time in manifest order, on the main thread. Each level of directories stays sorted by
// compareTreeNames(); files stay in arrival order. A directory's tick is 0 (unticked), 1
// (ticked: everything below it is ticked) or 2 (partly ticked); ticking a directory ticks
// everything below it and brings its ancestors up to date, as does ticking files in the file
// table. The recovery writer walks roots() and copies every file node with bSelected.
//
// Every operation runs on the main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/tree_dir_node.h"
#include "results/result_view.h"

// The outline and the file table of the backup browser, as the tree controller tells them.
class BackupBrowserView {
 public:
  virtual ~BackupBrowserView() = default;
  // The tree's structure changed: rearrange the outline from the roots and redraw it.
  virtual void reloadTree() = 0;
  // Expands the first row of the outline (the device).
  virtual void expandFirstRow() = 0;
  // Ticks changed: redraw the tick images of the outline and of the file table.
  virtual void redrawTicks() = 0;
  // The file table now shows `files`, in this order, with nothing highlighted.
  virtual void setFileRows(const std::vector<std::shared_ptr<MzTreeFileNode>>& files) = 0;
};

// The order of directory names within one level of the tree, in the manner of a file viewer:
// ASCII letters compare without regard to case, runs of digits compare by their numeric value
// ("IMG_9" before "IMG_10", "007" equal to "7" at this stage), other bytes by their value.
// Names that are equal by that rule are ordered by their bytes, so two names are equal only
// when they are the same text (device paths are case-sensitive: "Foo" and "foo" are two
// directories). Returns a negative number, 0 or a positive number.
int compareTreeNames(std::string_view a, std::string_view b);

// Where a "DOMAIN/PATH" text leads in the tree: the directory of that name, and the files of
// that name (the last component) in the directory before it. Both may be present when a
// manifest holds a file and a directory of the same name.
struct TreeLocation {
  MzTreeDirNode* directory = nullptr;
  std::vector<MzTreeFileNode*> files;
  bool found() const { return directory != nullptr || !files.empty(); }
};

class MzTreeController : public BackupBrowserTree {
 public:
  explicit MzTreeController(BackupBrowserView* view = nullptr) : view_(view) {}
  MzTreeController(const MzTreeController&) = delete;
  MzTreeController& operator=(const MzTreeController&) = delete;

  // The view that shows the tree (none: nothing is shown).
  void setView(BackupBrowserView* view) { view_ = view; }

  // The device name of the current backup; the root of the tree is named after it. Unset or
  // empty: records are not shown.
  std::function<std::string()> currentDeviceName;
  // Called whenever ticks changed, so that the owner recounts its selection.
  std::function<void()> selectionChanged;

  // BackupBrowserTree.
  // Adds one file-index record: its device path with every "/." replaced by "/" under the
  // device, then the domain without a leading ".", then the directories of the path, and the
  // last component as a file of the last directory. Records of directories and symbolic
  // links of the device add directories only. A record without device path is ignored.
  void addTreeNode(const std::shared_ptr<MzTreeDirNode>& record) override;
  // The number of ticked files in the whole tree.
  std::size_t getTreeSelectedItemNum() const override;
  // Empties the tree and the file table.
  void releaseTree() override;

  // The roots (one per device name seen; normally one).
  const std::vector<std::shared_ptr<MzTreeDirNode>>& roots() const { return roots_; }

  // True while the controller rearranges its nodes; selection changes are ignored meanwhile.
  bool bRefreshTreeFlag = false;
  // Stored-file path, and domain and device path joined by "/", of the record being added.
  std::string realKeypath;
  std::string dirFilePath;

  // Ticking.
  // The state a tick box click gives: 0 when `state` is 1, otherwise 1.
  static std::int32_t NewStateAfterChangeState(std::int32_t state);
  // Gives every file below `node` bSelected = `state` and every directory below it (not
  // `node` itself) the state and its icon, depth first.
  static void SetAllSel(std::int32_t state, MzTreeDirNode& node);
  // True when every sibling of the node's own kind (the parent's children for a directory,
  // its fileChildren for a file) has `state`. A root has no siblings: true.
  static bool sameLevelState(std::int32_t state, const MzTreeDirNode& node);
  static bool sameLevelState(std::int32_t state, const MzTreeFileNode& node);
  // True when the node's parent is mixed: among its files and directories at least one has
  // `state` and at least one has not, or a directory is partly ticked. False for a root.
  static bool GetSelectedOverItem(const MzTreeDirNode& node, std::int32_t state);
  static bool GetSelectedOverItem(const MzTreeFileNode& node, std::int32_t state);

  // A click on the tick box of `node` in the tree: partly ticked and unticked directories
  // become ticked, ticked ones unticked, with everything below; the ancestors follow.
  void outlineViewSetObjectValue(MzTreeDirNode& node);
  // Gives `node` and everything below it `state` (0 or 1), the ancestors following.
  void setDirectoryState(MzTreeDirNode& node, std::int32_t state);

  // The file table. The user highlighted `rows` of it (rows past its end are dropped).
  void fileTableSelectionDidChange(std::vector<std::size_t> rows);
  // A tick box of the file table: `value` 1 ticks, anything else unticks. When the clicked
  // row is highlighted every highlighted file takes the state, otherwise the clicked one
  // alone; the directory and its ancestors follow.
  void fileTableSetObjectValue(int value, std::size_t row);
  // The user highlighted `node` in the tree (none: no directory): the file table shows its
  // files, nothing highlighted. Ignored while bRefreshTreeFlag is set.
  void outlineViewSelectionDidChange(MzTreeDirNode* node);

  MzTreeDirNode* selectedDirectory() const { return selectedDirectory_; }
  const std::vector<std::shared_ptr<MzTreeFileNode>>& shownFiles() const { return shownFiles_; }
  const std::vector<std::size_t>& highlightedFiles() const { return highlightedFiles_; }

  // Counting.
  // `start` plus the ticked files of `dir` and of every directory below it.
  static std::size_t getNumSelectedItem(const MzTreeDirNode& dir, std::size_t start);
  // The files of `dir` and of every directory below it.
  static std::size_t countFiles(const MzTreeDirNode& dir);

  // Lookup by domain and device path ("HomeDomain/Library/Preferences"), below the roots.
  // The text is read as records are: a leading "." of the domain is ignored, every "/." is
  // read as "/", and empty components are skipped. "" or "/" finds nothing.
  TreeLocation findPath(const std::string& domainAndPath) const;
  // Ticks (or with `on` false unticks) what findPath finds: a directory with everything
  // below it, files by name; the ancestors follow and the owner recounts. False, with
  // nothing changed, when nothing is found.
  bool selectPath(const std::string& domainAndPath, bool on = true);

 private:
  // The directory named by `components` (the first naming a root), created where missing;
  // `created` tells whether any directory was created.
  MzTreeDirNode* addTreeFolder(const std::vector<std::string_view>& components, bool& created);
  // Adds the file `name` (the record being added: realKeypath, dirFilePath) to `dir`.
  void addFileNode(MzTreeDirNode& dir, std::string_view name, MzTreeDirNode& record);
  // An unticked node was added under `parent`: fully ticked ancestors become partly ticked.
  static void refreshNodeState(MzTreeDirNode* parent, bool isFirstCreate);
  // Rearranges the outline with bRefreshTreeFlag set, then expands the first row.
  void reloadOutLineData();
  // Brings the ancestors from `parent` upwards up to date after a child took `state`.
  static void updateAncestors(MzTreeDirNode* parent, std::int32_t state);
  void ticksChanged();

  BackupBrowserView* view_ = nullptr;
  std::vector<std::string_view> components_;  // of the record being added
  std::vector<std::shared_ptr<MzTreeDirNode>> roots_;
  MzTreeDirNode* selectedDirectory_ = nullptr;
  std::vector<std::shared_ptr<MzTreeFileNode>> shownFiles_;
  std::vector<std::size_t> highlightedFiles_;
};
