// The application's hub: the notification centre, the backup catalogue and its list, the
// backup being scanned with its OS flags, and the lists of the running scan. Every part
// reaches the others through it.
#pragma once

#include <any>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/cloud_entry_view.h"
#include "base/conversions.h"
#include "base/notification_center.h"
#include "catalogue/backup_list_controller.h"
#include "catalogue/device_controller.h"
#include "catalogue/manifest_reader.h"
#include "cloud/cloud_device_controller.h"
#include "cloud/cloud_script_bridge.h"
#include "device/device_backup_driver.h"
#include "device/device_manager.h"
#include "device/device_notify.h"
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

  // ---- The connected device (device_acquisition.cpp) ----

  // The attached device the device source works on, as its arrival recorded it.
  struct AttachedDevice {
    std::int32_t position = 0;  // theIOSdevice: 1-based, in the device list
    std::string udid;           // udidString ("UniqueDeviceID")
    std::string name;           // iDeviceName ("DeviceName")
    std::string version;        // iDeviceVersion ("ProductVersion")
    std::string phoneNumber;    // iDevicePhoneNum ("PhoneNumber")
    std::string model;          // "ProductType"
  };

  // Takes `deviceManager` as the manager, makes the listener that posts "DeviceConnect" and
  // "DeviceDisConnect" on nc, observes them, and subscribes to arrival and removal. Devices
  // attached now arrive before this returns. Call once; the front ends that offer the device
  // source call it (a scan of a backup folder never touches devices).
  void initDeviceManagement(DeviceManager& deviceManager = DeviceManager::shared());
  DeviceManager* manager = nullptr;
  // A device is attached and usable (its identifier was read). Written by the device event
  // handlers only.
  std::atomic<bool> bDeviceHasConnected{false};
  // The device recorded by the last arrival, while bDeviceHasConnected.
  std::optional<AttachedDevice> attachedDevice() const;

  // Handlers of "DeviceConnect" and "DeviceDisConnect" (the position as std::int32_t); run on
  // the device event thread. An arrival reads the device's values and records it; a removal
  // clears the record when it is the recorded device (and shifts its position when an earlier
  // device went).
  void DeviceConnectHandle(const std::any& object);
  void DeviceDisConnectHandle(const std::any& object);
  // Called after either handler has changed the device state, on the device event thread.
  std::function<void()> deviceStateChanged;

  // The device source's scan button. Without a device: alertNoDevice, nothing else, false.
  // Otherwise the device mode is set, the results view shown and StartBackupAction started.
  bool StartScanIOSDeviceAction();
  // Shows "Please connect your iOS device to this Mac. Or recover the files via scanning
  // your iTunes backup." with one " Ok " button.
  std::function<void()> alertNoDevice;
  // Starts the progress ticks and the backup thread (StartBackupDeviceThread).
  void StartBackupAction();
  // One progress value of the device backup (the ticks so far, 1 to 40, or the tool's own
  // progress on the same scale): kept in secondTime and posted as "ScanProgressInfo".
  void mytimer_hander(std::int32_t value);
  std::atomic<std::int32_t> secondTime{0};
  // The clock of the ticks; none: one tick every 3.5 seconds. Tests put a manual one.
  std::shared_ptr<amd::BackupTicker> deviceBackupTicker;
  // The folder of the programs, where the simulated device's backup tool is found; empty:
  // the folder of the running program.
  std::string programFolder;
  // The backup thread's body: has the backup tool write a backup of the attached device into
  // the backup root, then catalogues it in iosDeviceController and scans it; ends with
  // ScanThreadFinish when the device went away or no backup could be read.
  void StartBackupDeviceThread();
  // Holds only the record of the backup the device source made.
  MzIOSDeviceController& iosDeviceController() { return iosDeviceController_; }
  // Where device backups are written ("/tmp/Backup"); tests put their own.
  std::string deviceBackupRoot = "/tmp/Backup";
  // Told why a device backup gave nothing to scan ("the device backup failed: …"), on the
  // backup thread, before ScanThreadFinish.
  std::function<void(const std::string& reason)> deviceBackupFailed;
  // Asked on the main thread before the new backup is scanned (an encrypted backup needs its
  // password); false ends the run without a scan. None: every backup is scanned.
  std::function<bool(const std::string& backupFolder)> readyToScanDeviceBackup;
  // Ends a running device backup early (the tool is stopped); the run then ends as when
  // the device goes away.
  void stopDeviceBackup();
  // Blocks until the backup thread (if any) has ended.
  void waitForDeviceBackup();
  bool deviceBackupRunning() const { return deviceBackupRunning_.load(); }

  // ---- The cloud source (cloud_acquisition.cpp) ----

  // Connects the cloud entry view (none: no view; the fields then read empty).
  void setCloudEntryView(CloudEntryView* view);
  // What the cloud entry view shows; changed on the main thread only.
  const CloudViewState& cloudViewState() const { return cloudState_; }
  // The bridge to the cloud script module (the process's one unless a test gives another).
  cloud::CloudScriptBridge* bridge = &cloud::CloudScriptBridge::shared();
  // Where downloads are kept ("/var/tmp" unless $RETRIEVO_CLOUD_DOWNLOADS says otherwise).
  std::string cloudDownloadRoot;
  // The password-recovery page the forgotten-password link opens.
  std::string passwordRecoveryAddress = "https://iforgot.apple.com/";

  // The account and password as typed at the last sign-in; in memory only.
  std::string currentiCloudAccout;
  std::string currentiCloudPassd;
  // The account after a successful sign-in.
  std::string currentApple_ID;
  // The largest download fraction shown so far: the bar never moves back.
  float tmpiCloudFloat = 0.0f;
  std::optional<MziCloudDeviceNode> currentICloudNode;
  MzICloudDeviceController& icloudDeviceController() { return icloudDeviceController_; }

  // The sign-in button: starts icloudLoginThread on a thread of its own.
  void PressLoginiCloud();
  // The return key in the password field: signs in when both fields hold text.
  void ReturnOnPasswordField();
  // A change of the account field or the password field.
  void controlTextDidChange();
  void ClickForgetAppleID();
  // The sign-in/sign-out button: back to the sign-in panel; the interpreter is closed when
  // the button showed the sign-out image (there was a sign-in).
  void logoutiCloudAction();
  // The sign-in thread's body: starts the module, signs in, lists the backups. True when it
  // has ended its thread's count already: on the main thread, just before the list shows, so
  // that a download chosen the moment the list appears does not find the sign-in running.
  bool icloudLoginThread();
  void RefreshIcloudloginStateOnMaind(std::int32_t code);
  void ScaniCloudBackUpListFileOnMaind(const nlohmann::json& list);
  // The download action of a backup row not yet downloaded.
  void StartDownloadiCloudBackup();
  // The download thread's body for `node`.
  void icloudDonwloadThread(std::shared_ptr<MzIOSDeviceNode> node);
  void DownloadiCloudProgressInfoHandle(const std::any& object);
  void DownloadiCloudProgressInfoOnMaind(std::int64_t downloaded);
  void DownloadiCloudBackUpFinishedOnMaind(std::int32_t code);
  void DownloadiCloudBackUpFailedOnMaind(std::int32_t code);
  // The download panel's stop button.
  void StopDownloadiCloudBackupAction();
  // The button for earlier downloads: lists them without signing in.
  void ScanPreviouDownloadBackupFile();
  bool bICloudBackuphasDownload();
  // The scan action of a downloaded row.
  void ScaniCloudBackupFiles();
  // Creates the per-scan lists and starts the scan of the downloaded folder `folder`;
  // refused (false) while a scan runs.
  bool ScaniCloudBackup(const std::string& folder);
  // The cloud scan thread's body: the folder's media, then the database steps of a backup
  // scan, then ScanThreadFinish.
  void ScaniCloudBackuphand(const std::string& folder);
  bool cloudThreadsRunning() const { return cloudThreadsRunning_.load() > 0; }
  // Blocks until the sign-in and download threads (if any) have ended.
  void waitForCloudThreads();

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
  MzIOSDeviceController iosDeviceController_;
  std::unique_ptr<amd::MzDeviceNotify> deviceNotify_;
  std::vector<NotificationCenter::ObserverId> deviceObservers_;
  mutable std::mutex deviceMutex_;  // attached_
  std::optional<AttachedDevice> attached_;
  amd::DeviceBackupDriver* runningBackup_ = nullptr;  // under deviceMutex_
  // Runs the backup tool for `device` (stoppable through runningBackup_).
  amd::DeviceBackupResult runDeviceBackup(const AttachedDevice& device);
  std::thread backupThread_;
  std::atomic<bool> deviceBackupRunning_{false};
  std::atomic<bool> deviceBackupStopRequested_{false};
  // The body of a scan thread on `folder`: its first step (the manifest, or a downloaded
  // folder's media), the database steps, then ScanThreadFinish.
  void runScan(const std::string& folder, const char* firstStepName,
               const std::function<void(DatabasePreparer&)>& firstStep);
  // The database steps every scan runs after its first step.
  void runDatabaseSteps(ScanContext& context, const DatabasePreparer& databases);
  void setCloudState(const std::function<void(CloudViewState&)>& change);
  // Writes the download record of `node` (with haveDownload as given) beside its merge folder.
  void writeCloudDownloadRecord(MzIOSDeviceNode& node, bool downloaded);
  // Shows the results and scans the merge folder of `node` (the end of a download or a stop).
  void scanDownloadedNode(const std::shared_ptr<MzIOSDeviceNode>& node);
  MzICloudDeviceController icloudDeviceController_;
  CloudEntryView* cloudView_ = nullptr;
  CloudViewState cloudState_;
  // The account the running download's folder is named after (storedAppleIdlab's text when
  // it started).
  std::string downloadAccount_;
  std::thread loginicloudThread;
  std::thread downloadicloudThread;
  std::atomic<int> cloudThreadsRunning_{0};
  // Set by a sign-out while a cloud thread runs: that thread closes the interpreter as it ends.
  std::atomic<bool> closeWhenCloudThreadEnds_{false};
  // The end of a sign-in or download thread.
  void endCloudThread();
  NotificationCenter::ObserverId cloudProgressObserver_ = 0;
  std::thread scanBackFileThreader_;
  std::atomic<bool> scanRunning_{false};
  std::atomic<std::size_t> databasesCopied_{0};
  std::mutex scanMutex_;
};
