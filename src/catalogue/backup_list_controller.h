// The backup list of the backup-folder entry view, without a toolkit.
//
// It fills the catalogue from the backup root or from a folder the user picks, keeps the
// selected row, and enables the scan button exactly when a row is selected. The view
// shows what the controller tells it; the Qt view and the tests' fake implement
// BackupListView.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/device_controller.h"

class BackupListView {
 public:
  virtual ~BackupListView() = default;
  // The rows changed: show the catalogue's records again.
  virtual void reloadRows(const std::vector<std::shared_ptr<MzIOSDeviceNode>>& rows) = 0;
  // Highlight `row`, or nothing.
  virtual void selectRow(std::optional<std::size_t> row) = 0;
  virtual void setScanButtonEnabled(bool enabled) = 0;
  // The folder chooser: returns the chosen folder, or none when the user cancelled.
  virtual std::optional<std::string> chooseFolder(const std::string& prompt) = 0;
  // A modal alert; returns the index of the pressed button.
  virtual int showAlert(const std::string& message, const std::vector<std::string>& buttons) = 0;
};

// A folder of the backup root that holds a backup's property lists but could not be read.
struct SkippedBackup {
  std::string folder;
  std::string reason;  // e.g. "Info.plist nested too deeply"
};

class BackupListController {
 public:
  BackupListController(MzIOSDeviceController& catalogue, BackupListView* view)
      : catalogue_(catalogue), view_(view) {}

  // Lists the backup root: every entry whose name does not begin with "." is offered to
  // the catalogue; then row 0 is selected, or the scan button disabled when there is none.
  // A folder that cannot be read is left out and returned, the others are listed.
  std::vector<SkippedBackup> showIphoneDisk(const std::string& backupRoot);
  // Empties the list, then lists the backup root again.
  std::vector<SkippedBackup> showIphoneDiskView(const std::string& backupRoot);
  // The folder chooser: a chosen folder is offered to the catalogue and the last row is
  // selected (also when the folder did not qualify).
  void SelectBackUpAction();
  // The user highlighted `row` (none: no row).
  void tableViewSelectionDidChange(std::optional<std::size_t> row);

  void setView(BackupListView* view) { view_ = view; }

  // The scan button: with an empty list an alert is shown and none returned; otherwise
  // the selected record.
  std::shared_ptr<MzIOSDeviceNode> recordForScan();

  std::optional<std::size_t> selectedRow() const { return selected_; }
  bool scanButtonEnabled() const { return scanEnabled_; }

 private:
  void setSelection(std::optional<std::size_t> row);

  MzIOSDeviceController& catalogue_;
  BackupListView* view_;
  std::optional<std::size_t> selected_;
  bool scanEnabled_ = false;
};
