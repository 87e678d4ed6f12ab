// One scan of a backup folder for the command line: the catalogue's record of the folder
// sets the OS flags, the scan thread runs every step, progress goes to stderr (a bar on a
// terminal, one line per step otherwise), and the results controller keeps what was found.
#pragma once

#include <memory>
#include <string>

#include "base/notification_center.h"
#include "catalogue/device_node.h"
#include "extract/scan_problems.h"
#include "results/result_view_controller.h"
#include "results/tree_controller.h"

// The backup-browser tree of a command-line scan, filed when it is first asked for. The
// manifest step hands over every file-index record as it always did; they are kept in order
// and filed into the tree at once by filed(), just as they would have been one by one. Most
// commands never look at the tree (scan, show, search), and filing the 55,000 records of a
// current iPhone took a tenth of its scan. Nothing is ticked in a record not yet filed, so
// the count of ticked files is the filed tree's.
class DeferredTree : public BackupBrowserTree {
 public:
  explicit DeferredTree(MzTreeController& tree) : tree_(tree) {}

  void addTreeNode(const std::shared_ptr<MzTreeDirNode>& record) override {
    pending_.push_back(record);
  }
  std::size_t getTreeSelectedItemNum() const override { return tree_.getTreeSelectedItemNum(); }
  void releaseTree() override {
    pending_.clear();
    tree_.releaseTree();
  }

  // The tree with every record handed over so far filed into it.
  MzTreeController& filed();

 private:
  MzTreeController& tree_;
  std::vector<std::shared_ptr<MzTreeDirNode>> pending_;
};

class ScanSession {
 public:
  ScanSession();
  ~ScanSession();

  // Scans `folder` (already checked to be a readable backup) and waits for the end. Each
  // file the scan could not read is named on stderr with the reason. Returns the command's
  // exit code so far: 0, 1 when nothing could be read because of the environment (no
  // temporary folder, no space; the reason is printed), or 128 + the signal when SIGINT or
  // SIGTERM stopped the scan (its private copies are removed by then).
  int run(const std::string& folder, bool quiet);
  // The same for the "merge" folder of a downloaded cloud backup described by `record` (from
  // its download record): no manifest, the folder's files looked at for media.
  int runCloud(const std::string& folder, const MzIOSDeviceNode& record, bool quiet);

  // What the scan could not read.
  const std::vector<ScanProblem>& problems() const { return problems_; }

  const std::shared_ptr<MzIOSDeviceNode>& backup() const { return backup_; }
  MzResultViewController& results() { return *results_; }
  // The backup-browser tree of the scan, filled by the manifest step; its ticks count in
  // results().selectionTotal().
  MzTreeController& tree() { return deferredTree_.filed(); }

 private:
  int runWith(const std::string& folder, std::shared_ptr<MzIOSDeviceNode> backup, bool quiet,
              bool cloud);
  NotificationCenter center_;
  // Declared before the results controller, which points to them.
  MzTreeController tree_;
  DeferredTree deferredTree_{tree_};
  std::unique_ptr<MzResultViewController> results_;
  std::shared_ptr<MzIOSDeviceNode> backup_;
  std::vector<ScanProblem> problems_;
};

// The name of the backup-browser root for `backup`: its device name, or the name of its
// folder when the backup has no device name; "" without a backup.
std::string treeRootName(const std::shared_ptr<MzIOSDeviceNode>& backup);

// The categories of the scan document, by name: "contacts", "conversations", "calls",
// "notes", "bookmarks", "calendar", "photos", "appPhotos", "social".
struct NamedCategory {
  const char* name;
  ResultCategory category;
};
const std::vector<NamedCategory>& documentCategories();
// The category called `name`, or none.
std::optional<ResultCategory> categoryByName(const std::string& name);
