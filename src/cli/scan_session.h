// One scan of a backup folder for the command line: the catalogue's record of the folder
// sets the OS flags, the scan thread runs every step, progress goes to stderr (a bar on a
// terminal, one line per step otherwise), and the results controller keeps what was found.
#pragma once

#include <memory>
#include <string>

#include "app/notification_center.h"
#include "catalogue/device_node.h"
#include "results/result_view_controller.h"
#include "results/tree_controller.h"

class ScanSession {
 public:
  ScanSession();
  ~ScanSession();

  // Scans `folder` (already checked to be a readable backup) and waits for the end.
  void run(const std::string& folder, bool quiet);

  const std::shared_ptr<MzIOSDeviceNode>& backup() const { return backup_; }
  MzResultViewController& results() { return *results_; }
  // The backup-browser tree of the scan, filled by the manifest step; its ticks count in
  // results().selectionTotal().
  MzTreeController& tree() { return tree_; }

 private:
  NotificationCenter center_;
  MzTreeController tree_;  // declared before the results controller, which points to it
  std::unique_ptr<MzResultViewController> results_;
  std::shared_ptr<MzIOSDeviceNode> backup_;
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
