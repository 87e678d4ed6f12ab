// The application's hub: the notification centre, the backup catalogue and its list, the
// backup being scanned with its OS flags, and the lists of the running scan. Every part
// reaches the others through it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/conversions.h"
#include "base/notification_center.h"
#include "catalogue/backup_list_controller.h"
#include "catalogue/device_controller.h"
#include "catalogue/manifest_reader.h"
#include "extract/camera_roll.h"
#include "extract/scan_context.h"
#include "extract/scan_lists.h"
#include "extract/scan_problems.h"
#include "extract/step_outcome.h"

class RetrievoAppDelegate {
 public:
  // The process's one delegate, created on first use with the default notification centre.
  static RetrievoAppDelegate& GetAppControllor();

  explicit RetrievoAppDelegate(NotificationCenter& center = NotificationCenter::defaultCenter());
  ~RetrievoAppDelegate();
  RetrievoAppDelegate(const RetrievoAppDelegate&) = delete;
  RetrievoAppDelegate& operator=(const RetrievoAppDelegate&) = delete;

  NotificationCenter& nc;

  // The backup being scanned and the flags that choose database generations.
  std::shared_ptr<MzIOSDeviceNode> currentNode;
  bool currentNodeIsiOS6Version = false;
  bool bIOS7DeviceNode = false;
  bool bIOSRecoveryMode = false;

  // The running scan's lists; none between scans.
  std::unique_ptr<ScanLists> scan;

  MzIOSDeviceController& GetMzIOSDeviceController() { return deviceController_; }
  BackupListController& backupList() { return backupList_; }
  // Connects the backup list to its view (none: no view).
  void setBackupListView(BackupListView* view);

  // Fills the backup list from the backup root; showIphoneDiskView empties it first.
  void showIphoneDisk();
  void showIphoneDiskView();

  // The OS-version check on `version`; sets bIOS7DeviceNode for version 7.
  bool IOSVersionIOS6(const std::optional<std::string>& version);
  // Sets currentNode and the OS flags for a backup about to be scanned.
  void setCurrentNodeForScan(std::shared_ptr<MzIOSDeviceNode> node);

  // The scan button of the backup list: with an empty list the view alerts; otherwise
  // the selected backup becomes current, the results view is shown and its scan starts.
  // Returns whether a scan started.
  bool actScanIOSBackupFile();
  // Creates the per-scan lists and starts the scan thread on `backupFolder`. The caller
  // sets currentNode and the OS flags first. Refused (false) while a scan runs.
  bool ScanIOSBackFile(const std::string& backupFolder);
  // The scan thread's body: the thirteen steps in their fixed order, then
  // ScanThreadFinish, then removeSomeArray.
  void ScanIOSBackUpFilehand(const std::string& backupFolder);
  // Blocks until the running scan (if any) has ended.
  void waitForScan();
  bool scanRunning() const { return scanRunning_.load(); }

  // Set by the owner of the results: called on the scan thread after the last step.
  std::function<void()> ScanThreadFinish;
  // Asked before each step of a scan (and during long copies); true ends the scan early,
  // its private copies removed. Set before the scan starts.
  std::function<bool()> shouldStopScan;
  bool scanStopRequested() const;
  // What the last scan could not read; complete once the scan has ended.
  ScanProblems scanProblems;
  // How many databases the last scan copied and read.
  std::size_t databasesCopied() const { return databasesCopied_.load(); }
  // Set by the window: switch from the entry views to the results view.
  std::function<void()> hideMainView;
  std::function<void()> showResultView;

  // Creates the per-scan lists (empty) and releases them.
  void createScanLists();
  void removeSomeArray();

  // Reads the backup folder's manifest into treeFileArray, announcing every record and
  // handing it to the media classification. Creates the scan lists when there are none.
  // With the scan's `databases`, the camera roll of a current backup (extract/camera_roll.h)
  // is posted right after the walk, its photo library copied by them; without, every media
  // file is classified on its own as in older backups.
  ManifestReadResult scanDirAnalyThread(const std::string& backupFolder,
                                        DatabasePreparer* databases = nullptr);
  // The media classification of one file-index record; filled in by the media scanner.
  void GetMediaFileByNode(const std::shared_ptr<MzTreeDirNode>& node);
  std::optional<std::string> getFileKeyBytheFilepath(const std::string& path) const;

  // Names by phone number over the scan's contactArray.
  std::optional<std::string> getNameByPhoneNumber(const std::string& phone) const;
  std::optional<std::string> getNameByPhoneNumberWithData(const std::string& phone);

  static char* size_to_unit(std::uint64_t n, char* out_buffer) {
    return ::size_to_unit(n, out_buffer);
  }
  static std::string getFullName(std::uint64_t n) { return ::getFullName(n); }

 private:
  // The camera roll of the backup being walked when it is read as a current one.
  std::optional<CurrentCameraRoll> currentRoll_;
  // Runs one step unless a stop was asked for (false then). A step that does not end as
  // done is logged with its name, and one whose database is unreadable or cut short is put
  // on the problem list.
  bool runScanStep(const char* name, const std::function<StepOutcome()>& run,
                   const DatabasePreparer& databases);

  MzIOSDeviceController deviceController_;
  BackupListController backupList_;
  std::thread scanBackFileThreader_;
  std::atomic<bool> scanRunning_{false};
  std::atomic<std::size_t> databasesCopied_{0};
  std::mutex scanMutex_;
};
