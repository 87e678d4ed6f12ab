// The cloud source of the delegate over small script modules written by the tests: sign-in
// (right, wrong, the return key), the list, a whole download ending in the scan of its folder,
// a stop in the middle of a module that would never end by itself, a hostile serial, and the
// earlier downloads found again without signing in.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <vector>

#include "app/retrievo_app_delegate.h"
#include "cloud/download_progress.h"
#include "cloud/download_record.h"
#include "support/cloud_module.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class FakeCloudView : public CloudEntryView {
 public:
  std::string account, password;
  std::optional<std::size_t> row;
  CloudViewState state;
  std::vector<float> fractions;
  int listChanges = 0, failedAlerts = 0, stopQuestions = 0;

  std::string accountField() const override { return account; }
  std::string passwordField() const override { return password; }
  void clearFields() override { account.clear(), password.clear(); }
  void cloudStateChanged(const CloudViewState& s) override {
    if (fractions.empty() || fractions.back() != s.downloadFraction)
      fractions.push_back(s.downloadFraction);
    state = s;
  }
  void backupListChanged() override { ++listChanges; }
  std::optional<std::size_t> selectedBackupRow() const override { return row; }
  void openPasswordRecoveryPage(const std::string&) override {}
  void alertDownloadFailed() override { ++failedAlerts; }
  bool confirmStopDownload() override { return ++stopQuestions > 0; }
};

struct CloudRun {
  TempDir work;
  NotificationCenter center;
  cloud::CloudScriptBridge bridge;
  RetrievoAppDelegate delegate{center};
  FakeCloudView view;
  std::atomic<int> scans{0};

  explicit CloudRun(int files = 3, bool endless = false) {
    std::ofstream(work.sub("crypto.so")) << cloudtest::moduleText(files, endless);
    bridge.setModuleFile(work.sub("crypto.so"));
    delegate.bridge = &bridge;
    // The root holds more than two entries, as a real /var/tmp does.
    fs::create_directories(work.sub("downloads/launchd"));
    fs::create_directories(work.sub("downloads/.hidden"));
    delegate.cloudDownloadRoot = work.sub("downloads");
    delegate.ScanThreadFinish = [this] { ++scans; };
    delegate.setCloudEntryView(&view);
  }
  ~CloudRun() {
    delegate.waitForCloudThreads();
    delegate.waitForScan();
    delegate.setCloudEntryView(nullptr);
  }
  void signIn(const std::string& password) {
    view.account = "emma@example.com";
    view.password = password;
    delegate.controlTextDidChange();
    delegate.ReturnOnPasswordField();
    delegate.waitForCloudThreads();
  }
  std::string backupFolder(const std::string& serial, int number) const {
    return work.sub("downloads/emma@example.com/" + serial + "_" + std::to_string(number));
  }
};

TEST(CloudSource, SignInListsTheBackupsAndAWrongPasswordSaysSo) {
  CloudRun run;
  run.view.account = "emma@example.com";
  run.delegate.ReturnOnPasswordField();  // the return key with an empty password field
  run.view.account.clear();
  run.view.password = "secret";
  run.delegate.ReturnOnPasswordField();  // ... and with an empty account field
  EXPECT_FALSE(run.delegate.cloudThreadsRunning());
  EXPECT_FALSE(run.bridge.hasInterpreter());

  run.signIn("wrong");
  EXPECT_TRUE(run.view.state.incorrectInfoShown);
  EXPECT_TRUE(run.view.state.forgetLinkShown);
  EXPECT_FALSE(run.view.state.loginBusy);
  EXPECT_EQ(run.view.account, "");  // the fields are emptied
  EXPECT_EQ(run.view.state.panel, CloudPanel::SignIn);

  run.signIn("secret");
  EXPECT_EQ(run.view.state.panel, CloudPanel::BackupList);
  EXPECT_FALSE(run.view.state.incorrectInfoShown);
  EXPECT_EQ(run.view.state.storedAppleId, "emma@example.com");
  EXPECT_EQ(run.view.state.signButtonImage, "logout_Nom.png");
  EXPECT_EQ(run.delegate.currentApple_ID, "emma@example.com");
  const auto& rows = run.delegate.icloudDeviceController().arrangedObjects();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]->strDeviceSerial, "c0ffee01");
  EXPECT_EQ(rows[1]->backupID, 2);
  EXPECT_EQ(rows[0]->deviceImage, "iphone");
  EXPECT_EQ(rows[2]->deviceImage, "ipad");

  // Sign-out after the sign-in closes the interpreter.
  run.delegate.logoutiCloudAction();
  EXPECT_EQ(run.view.state.panel, CloudPanel::SignIn);
  EXPECT_FALSE(run.bridge.hasInterpreter());
}

TEST(CloudSource, ADownloadIsRecordedAndItsFolderScanned) {
  CloudRun run;
  run.signIn("secret");
  run.view.row = 0;
  run.delegate.StartDownloadiCloudBackup();
  run.delegate.waitForCloudThreads();
  run.delegate.waitForScan();

  const std::string folder = run.backupFolder("c0ffee01", 1);
  EXPECT_EQ(run.scans.load(), 1);
  EXPECT_EQ(run.delegate.currentNode->backUpFilePath, folder + "/merge");
  EXPECT_TRUE(run.delegate.currentNode->haveDownload);
  EXPECT_EQ(fs::file_size(folder + "/merge/" + std::string(39, '0') + "3"), 3000u);
  const cloud::DownloadRecord record = cloud::readDownloadRecord(folder + "/info.plist");
  EXPECT_EQ(record.iCloudName, "Emma's iPhone");
  EXPECT_EQ(record.iCloudiOSVersion, "17.1");
  EXPECT_EQ(record.iCloudType, "iphone");
  // 1000, 3000 and 6000 of 15000 bytes, then the finished download's full bar: never back.
  EXPECT_EQ(run.view.fractions,
            (std::vector<float>{0.0f, 1000.0f / 15000, 3000.0f / 15000, 6000.0f / 15000, 1.0f}));
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);

  // Found again without signing in, as downloaded; sign-out then closes nothing.
  CloudRun later;
  later.delegate.cloudDownloadRoot = run.delegate.cloudDownloadRoot;
  EXPECT_TRUE(later.delegate.bICloudBackuphasDownload());
  later.delegate.ScanPreviouDownloadBackupFile();
  ASSERT_EQ(later.delegate.icloudDeviceController().count(), 1u);
  EXPECT_TRUE(later.delegate.icloudDeviceController().arrangedObjects()[0]->haveDownload);
  EXPECT_EQ(later.view.state.signButtonImage, "Signin.png");
  later.view.row = 0;
  later.delegate.ScaniCloudBackupFiles();
  later.delegate.waitForScan();
  EXPECT_EQ(later.scans.load(), 1);
  later.delegate.logoutiCloudAction();
  EXPECT_FALSE(later.bridge.hasInterpreter());
}

TEST(CloudSource, AStopKeepsWhatArrivedAndScansIt) {
  CloudRun run(3, true);
  run.signIn("secret");
  // The user stops after the second file; the module would go on for ever otherwise.
  int reports = 0;
  run.center.addObserver("DownloadiCloudProgressInfo", [&](const std::any&) {
    if (++reports == 2) run.delegate.StopDownloadiCloudBackupAction();
  });
  run.view.row = 1;
  run.delegate.StartDownloadiCloudBackup();
  run.delegate.waitForCloudThreads();
  run.delegate.waitForScan();

  const std::string folder = run.backupFolder("c0ffee01", 2);
  EXPECT_EQ(run.view.stopQuestions, 1);
  EXPECT_EQ(run.scans.load(), 1);
  EXPECT_FALSE(run.delegate.currentNode->haveDownload);
  EXPECT_FALSE(run.view.state.stopBusy);
  EXPECT_EQ(run.view.state.panel, CloudPanel::BackupList);
  EXPECT_TRUE(fs::exists(folder + "/info.plist"));
  std::size_t arrived = 0;
  for (const auto& f : fs::directory_iterator(folder + "/merge")) arrived += f.is_regular_file();
  EXPECT_EQ(arrived, 2u);
  cloud::resetDownloadProgress();
}

// Signing out while a download runs stops it; the interpreter is closed once the download has
// returned (the call under way holds it).
TEST(CloudSource, SignOutDuringADownloadStopsItThenCloses) {
  CloudRun run(3, true);
  run.signIn("secret");
  int reports = 0;
  run.center.addObserver("DownloadiCloudProgressInfo", [&](const std::any&) {
    if (++reports == 2) run.delegate.logoutiCloudAction();
  });
  run.view.row = 0;
  run.delegate.StartDownloadiCloudBackup();
  run.delegate.waitForCloudThreads();
  EXPECT_EQ(reports, 2);
  EXPECT_FALSE(run.bridge.hasInterpreter());
  EXPECT_EQ(run.scans.load(), 0);
  cloud::resetDownloadProgress();
}

TEST(CloudSource, ASerialThatWouldLeaveTheRootFailsTheDownload) {
  CloudRun run;
  run.signIn("secret");
  run.view.row = 2;
  run.delegate.StartDownloadiCloudBackup();
  run.delegate.waitForCloudThreads();
  EXPECT_EQ(run.view.failedAlerts, 1);
  EXPECT_EQ(run.view.state.panel, CloudPanel::BackupList);
  EXPECT_EQ(run.scans.load(), 0);
  EXPECT_FALSE(fs::exists(run.work.sub("downloads/escape_1")));
  EXPECT_FALSE(fs::exists(run.work.sub("escape_1")));
}

TEST(CloudSource, AModuleThatCannotStartChangesNothing) {
  CloudRun run;
  std::ofstream(run.work.sub("crypto.so")) << "this is not Lua";
  run.signIn("secret");
  EXPECT_FALSE(run.bridge.hasInterpreter());
  EXPECT_EQ(run.view.state.panel, CloudPanel::SignIn);
  EXPECT_FALSE(run.view.state.incorrectInfoShown);
  EXPECT_EQ(run.view.listChanges, 0);
}

}  // namespace
