// The main window and the application shell around it: the three entry views (connected
// device, backup folder, cloud) with their source buttons, the switch to the results view
// and back, and the exit question.
//
// The window opens on the cloud view with only its sign-in panel shown (scanIntType 3);
// the backup list is filled once the window is up. The close button and the window's own
// close control both ask "Are you sure you want to Exit ?" (" Exit " / "Cancel"); Cancel
// keeps the window and gives the close button its normal image again.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "device/advanced_photo_scan.h"
#include "results/tree_controller.h"

class BackupBrowserPane;
class BackupFolderView;
class MzRecoveryWriter;
class MzResultViewController;
class ResultsView;
class CloudView;
class DevicePanel;
class MzButton;
class QLabel;
class QStackedWidget;
class QWidget;
class RetrievoAppDelegate;

class MzWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MzWindow(RetrievoAppDelegate& delegate, QWidget* parent = nullptr);
  ~MzWindow() override;

  // The entry view shown: 1 device, 2 backup folder, 3 cloud; -1 before the first.
  std::int32_t scanIntType = -1;

  // Fills the backup list and places the window; called once the event loop runs.
  void applicationDidFinishLaunching();

  void showScanDeviceView();
  void showScanItunesView();
  void showScanICloudView();
  void ChangeToDeviceView() { showScanDeviceView(); }
  void ChangeToItunesView() { showScanItunesView(); }
  void ChangeToICloudView() { showScanICloudView(); }

  void hideMainView();
  void showMainView();
  void showResultView();

  // Asks the exit question and quits unless the answer is "Cancel".
  void CloseApplication();
  // The same question for the window's close control: true lets the window close.
  bool windowShouldClose();

  // The modal questions and messages of the window; tests answer them instead of a user.
  // Returns the index of the pressed button.
  std::function<int(const QString& message, const QStringList& buttons)> askQuestion;
  // Asks for the password of an encrypted backup; none for cancel. Tests answer here; without
  // it the password dialog is shown.
  std::function<std::optional<std::string>(const QString& message)> askPassword;

  // Recover: asks for the output folder (proposing "Retrievo YYYY-MM-DD - HH.MM.SS" in the
  // Documents folder), writes every ticked item on the recovery thread behind a modal
  // progress sheet that shows the percentage and the item being written once a second, then
  // names what could not be written and shows the folder.
  void actRecovery();
  // The save dialog; tests answer it with a path ("" cancels).
  std::function<QString(const QString& proposedPath)> chooseRecoveryFolder;
  // Shows the written folder in the file manager; tests record it instead.
  std::function<void(const QString& folder)> revealFolder;

  // The widgets the shell switches (for the tests and the screenshots).
  QWidget* imageView() const { return imageView_; }
  QWidget* scanDeviceNoDeviceView() const { return scanDeviceNoDeviceView_; }
  QWidget* scanDeviceHasDeviceView() const { return scanDeviceHasDeviceView_; }
  QWidget* scanItunesView() const;
  QWidget* scanIcloudView() const { return scanIcloudView_; }
  QWidget* scansignInCloudView() const { return scansignInCloudView_; }
  QWidget* scanDownloadCloudView() const { return scanDownloadCloudView_; }
  QWidget* scaniCloudBackupView() const { return scaniCloudBackupView_; }
  QWidget* scanAnalyCloudView() const { return scanAnalyCloudView_; }
  MzButton* button() const { return button_; }
  MzButton* closeWindowBtn() const { return closeWindowBtn_; }
  MzButton* iOSBtn() const { return iOSBtn_; }
  MzButton* itunesBtn() const { return itunesBtn_; }
  MzButton* icloudBtn() const { return icloudBtn_; }
  ResultsView* resultView() const { return resultPage_; }
  DevicePanel* devicePanel() const { return devicePanel_; }
  // Where the advanced photo scan copies the device's media; tests put their own.
  std::string advancedScanFolder = kAdvancedScanFolder;
  MzResultViewController& results() { return *results_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildEntryViews();
  // Connects the device source of the delegate to the window: the panels follow arrival and
  // removal, the no-device alert and a failed device backup are shown here.
  void connectDeviceSource();
  void refreshDevicePanels();
  void buildMenus();
  void MzbuttonMouseEnteredHandle(MzButton* button);
  void MzbuttonMouseExitedHandle(MzButton* button);
  void MzbuttonMouseDownHandle(MzButton* button);
  void setSourceImages(MzButton* down);
  int ask(const QString& message, const QStringList& buttons);
  // Whether the backup in `folder` can be scanned: a readable backup, or an encrypted one the
  // user unlocked with its password. Anything else gets one message.
  bool readyToScan(const std::string& folder);
  void showAbout();
  // Names what the scan could not read, if anything, in one dialog.
  void showScanProblems();
  // Asks a running scan to stop and waits for it, the event loop still turning.
  void stopScan();
  void showHelp();

  RetrievoAppDelegate& delegate_;
  std::vector<std::size_t> observers_;
  QStackedWidget* pages_ = nullptr;  // the entry page and the results page
  QWidget* entryPage_ = nullptr;
  MzTreeController tree_;  // before the results controller, which points to it
  BackupBrowserPane* browser_ = nullptr;
  std::unique_ptr<MzResultViewController> results_;
  std::unique_ptr<MzRecoveryWriter> writer_;
  ResultsView* resultPage_ = nullptr;
  QWidget* imageView_ = nullptr;
  QWidget* sourceBar_ = nullptr;
  QWidget* scanDeviceNoDeviceView_ = nullptr;
  QWidget* scanDeviceHasDeviceView_ = nullptr;
  DevicePanel* devicePanel_ = nullptr;
  BackupFolderView* scanItunesView_ = nullptr;
  CloudView* cloudView_ = nullptr;
  QWidget* scanIcloudView_ = nullptr;
  QWidget* scansignInCloudView_ = nullptr;
  QWidget* scanDownloadCloudView_ = nullptr;
  QWidget* scaniCloudBackupView_ = nullptr;
  QWidget* scanAnalyCloudView_ = nullptr;
  MzButton* iOSBtn_ = nullptr;
  MzButton* itunesBtn_ = nullptr;
  MzButton* icloudBtn_ = nullptr;
  MzButton* button_ = nullptr;  // the backup-folder view's scan button
  MzButton* closeWindowBtn_ = nullptr;
  bool quitting_ = false;
  // Ends a running advanced photo scan between two files (the window is closing).
  std::atomic<bool> stopAdvancedScan_{false};
};

// Places the libraries of the cloud script module where it loads them from. The script
// bridge here links the system's Lua and protobuf libraries, so nothing is copied and no
// folder's permissions are changed; this only reports success.
bool CopyDylibToUserDir();
