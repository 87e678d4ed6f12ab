// The cloud source of the application delegate: signing in through the cloud script module,
// the account's backup list, the download of one backup into the downloads root with its
// progress, the stop, the earlier downloads found again without signing in, and the scan of a
// downloaded folder.
//
// The sign-in and the download each run on a thread of their own; every change of what the
// cloud entry view shows is made on the main thread, the worker waiting.
#include <algorithm>

#include "app/retrievo_app_delegate.h"
#include "base/conversions.h"
#include "base/log.h"
#include "base/main_thread.h"
#include "cloud/cloud_folders.h"
#include "cloud/download_progress.h"
#include "cloud/download_record.h"

namespace {

// The list is logged as the module gave it, up to this many bytes.
constexpr std::size_t kLoggedListBytes = 4096;

std::string loggedList(const nlohmann::json& list) {
  std::string text = list.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  if (text.size() > kLoggedListBytes) text = text.substr(0, kLoggedListBytes) + "…";
  return text;
}

// "%@/%@" of a size text and a total, or of the total twice.
std::string downloadLabel(const std::string& done, const std::string& total, const char* gap) {
  return done + "/" + total + gap +
         "Downloading iCloud backup files, this will be take some time, please waiting...";
}

}  // namespace

void RetrievoAppDelegate::setCloudEntryView(CloudEntryView* view) {
  cloudView_ = view;
  if (cloudView_ != nullptr) cloudView_->cloudStateChanged(cloudState_);
}

void RetrievoAppDelegate::setCloudState(const std::function<void(CloudViewState&)>& change) {
  change(cloudState_);
  if (cloudView_ != nullptr) cloudView_->cloudStateChanged(cloudState_);
}

void RetrievoAppDelegate::PressLoginiCloud() {
  // One sign-in at a time; a download holds the interpreter until it ends.
  if (cloudThreadsRunning()) return;
  if (loginicloudThread.joinable()) loginicloudThread.join();
  currentiCloudAccout = cloudView_ != nullptr ? cloudView_->accountField() : std::string();
  currentiCloudPassd = cloudView_ != nullptr ? cloudView_->passwordField() : std::string();
  setCloudState([](CloudViewState& s) {
    s.signButtonImage = "logout_Nom.png";
    s.storedAppleIdShown = true;
    s.loginBusy = true;
  });
  ++cloudThreadsRunning_;
  loginicloudThread = std::thread([this] {
    if (!icloudLoginThread()) endCloudThread();
  });
}

void RetrievoAppDelegate::ReturnOnPasswordField() {
  if (cloudView_ == nullptr) return;
  if (!cloudView_->accountField().empty() && !cloudView_->passwordField().empty()) {
    PressLoginiCloud();
  }
}

void RetrievoAppDelegate::controlTextDidChange() {
  const bool both = cloudView_ != nullptr && !cloudView_->accountField().empty() &&
                    !cloudView_->passwordField().empty();
  setCloudState([both](CloudViewState& s) {
    s.incorrectInfoShown = false;
    s.forgetLinkShown = false;
    s.logInButtonShown = both;
  });
}

void RetrievoAppDelegate::ClickForgetAppleID() {
  if (cloudView_ != nullptr) cloudView_->openPasswordRecoveryPage(passwordRecoveryAddress);
}

void RetrievoAppDelegate::logoutiCloudAction() {
  if (cloudView_ != nullptr) cloudView_->clearFields();
  const bool signedIn = cloudState_.signButtonImage != "Signin.png";
  setCloudState([](CloudViewState& s) { s.panel = CloudPanel::SignIn; });
  if (!signedIn) return;
  if (cloudThreadsRunning()) {
    // A call under way holds the interpreter, and its progress waits for this thread: the
    // download is told to stop and the thread closes the interpreter when it ends.
    cloud::requestDownloadStop();
    closeWhenCloudThreadEnds_.store(true);
  } else {
    bridge->close();
  }
}

bool RetrievoAppDelegate::icloudLoginThread() {
  if (bridge->start() != 0) return false;  // "初始化失败" is logged; nothing changes on screen
  std::int32_t code = 0;
  if (bridge->authroize(currentiCloudAccout, currentiCloudPassd) != 0) {
    applog::line("登陆失败");
    code = -1;
  }
  performOnMainThreadAndWait([this, code] { RefreshIcloudloginStateOnMaind(code); });

  std::string text;
  std::string why;
  std::optional<nlohmann::json> list;
  if (bridge->query(text) == 0) list = parseCloudBackupList(text, &why);
  if (!list) {
    applog::line("备份列表获取失败");
    applog::line("备份列表 " + why);
    return false;
  }
  applog::line("备份列表 " + loggedList(*list));
  // Nothing touches the interpreter after this: the thread is done before the list shows.
  performOnMainThreadAndWait([this, &list] {
    endCloudThread();
    ScaniCloudBackUpListFileOnMaind(*list);
  });
  return true;
}

void RetrievoAppDelegate::RefreshIcloudloginStateOnMaind(std::int32_t code) {
  if (code == -1) {
    applog::line("登陆失败");
    if (cloudView_ != nullptr) cloudView_->clearFields();
    setCloudState([](CloudViewState& s) {
      s.loginBusy = false;
      s.forgetLinkShown = true;
      s.incorrectInfoShown = true;
    });
    return;
  }
  setCloudState([](CloudViewState& s) { s.incorrectInfoShown = false; });
  currentApple_ID = cloudView_ != nullptr ? cloudView_->accountField() : currentiCloudAccout;
}

void RetrievoAppDelegate::ScaniCloudBackUpListFileOnMaind(const nlohmann::json& list) {
  const std::string account =
      cloudView_ != nullptr ? cloudView_->accountField() : currentiCloudAccout;
  icloudDeviceController_.removeAllObjects();
  icloudDeviceController_.addDeviceNodeByDictionary(&list);
  setCloudState([&account](CloudViewState& s) {
    s.storedAppleId = account;
    s.panel = CloudPanel::BackupList;
    s.loginBusy = false;
  });
  if (cloudView_ != nullptr) cloudView_->backupListChanged();
}

void RetrievoAppDelegate::StartDownloadiCloudBackup() {
  if (cloudThreadsRunning()) return;
  cloud::resetDownloadProgress();
  cloud::setDownloadProgressCenter(&nc);
  tmpiCloudFloat = 0.0f;
  setCloudState([](CloudViewState& s) {
    s.downloadFraction = 0.0f;
    s.panel = CloudPanel::Download;
    s.circleBusy = true;
    s.downloadLabel = "Analysing the iCloud list...";
  });
  const std::optional<std::size_t> row =
      cloudView_ != nullptr ? cloudView_->selectedBackupRow() : std::nullopt;
  if (!row || *row >= icloudDeviceController_.count()) return;
  std::shared_ptr<MzIOSDeviceNode> node = icloudDeviceController_.arrangedObjects()[*row];
  currentNode = node;
  downloadAccount_ = cloudState_.storedAppleId;
  if (downloadicloudThread.joinable()) downloadicloudThread.join();
  ++cloudThreadsRunning_;
  downloadicloudThread = std::thread([this, node] {
    icloudDonwloadThread(node);
    endCloudThread();
  });
}

void RetrievoAppDelegate::icloudDonwloadThread(std::shared_ptr<MzIOSDeviceNode> node) {
  if (bridge->geturls(node->strDeviceSerial, node->backupID) != 0) return;
  // The account and serial come from the user and the list: a name that would leave the
  // downloads root is refused, and the download fails instead of writing anywhere else.
  const std::string refusal = cloud::makeDownloadFolder(cloudDownloadRoot, downloadAccount_,
                                                        node->strDeviceSerial, node->backupID);
  std::int32_t code = -1;
  if (refusal.empty()) {
    const std::string folder = cloud::downloadFolder(cloudDownloadRoot, downloadAccount_,
                                                     node->strDeviceSerial, node->backupID);
    code = bridge->download(folder, cloud::icloudDownloadProgress);
  } else {
    applog::line("The download folder cannot be made: " + refusal);
  }
  performOnMainThreadAndWait([this, code] {
    if (code != 0) {
      DownloadiCloudBackUpFailedOnMaind(code);
    } else {
      DownloadiCloudBackUpFinishedOnMaind(code);
    }
  });
}

void RetrievoAppDelegate::DownloadiCloudProgressInfoHandle(const std::any& object) {
  const auto* downloaded = std::any_cast<std::int64_t>(&object);
  if (downloaded == nullptr) return;
  const std::int64_t bytes = *downloaded;
  performOnMainThreadAndWait([this, bytes] { DownloadiCloudProgressInfoOnMaind(bytes); });
}

void RetrievoAppDelegate::DownloadiCloudProgressInfoOnMaind(std::int64_t downloaded) {
  if (!currentNode) return;
  // A list that gives no size cannot give a fraction; the label still counts the bytes.
  const float fraction =
      currentNode->backupFileSize > 0
          ? static_cast<float>(downloaded) / static_cast<float>(currentNode->backupFileSize)
          : 0.0f;
  const std::string done =
      sizeText(static_cast<std::uint64_t>(std::max<std::int64_t>(downloaded, 0)));
  const std::string total = currentNode->strDeviceSize;
  const float shown = tmpiCloudFloat;
  setCloudState([&](CloudViewState& s) {
    if (fraction > shown) s.downloadFraction = fraction;
    s.downloadLabel = downloadLabel(done, total, "   ");
  });
  tmpiCloudFloat = std::max(tmpiCloudFloat, fraction);
}

void RetrievoAppDelegate::writeCloudDownloadRecord(MzIOSDeviceNode& node, bool downloaded) {
  const std::string folder = cloud::downloadFolder(cloudDownloadRoot, currentApple_ID,
                                                   node.strDeviceSerial, node.backupID);
  const std::string path = cloud::downloadRecordPath(folder);
  // The record is only written inside a download folder that was made (and checked) for it.
  if (!cloud::refuseFolderName(currentApple_ID).empty() ||
      !cloud::refuseFolderName(node.strDeviceSerial).empty()) {
    return;
  }
  const std::string problem = cloud::writeDownloadRecord(path, cloud::downloadRecordFor(node));
  if (!problem.empty()) applog::line("The download record was not written: " + problem);
  applog::line("plistPath=====" + path);
  if (downloaded) node.haveDownload = true;
}

void RetrievoAppDelegate::scanDownloadedNode(const std::shared_ptr<MzIOSDeviceNode>& node) {
  if (tmpiCloudFloat < 1.0f) {
    setCloudState([&node](CloudViewState& s) {
      s.downloadFraction = 1.0f;
      s.downloadLabel = downloadLabel(node->strDeviceSize, node->strDeviceSize, " ");
    });
  }
  setCloudState([](CloudViewState& s) { s.circleBusy = false; });
  bIOSRecoveryMode = false;
  setCurrentNodeForScan(node);
  if (hideMainView) hideMainView();
  if (showResultView) showResultView();
  node->backUpFilePath = cloud::mergeFolder(cloud::downloadFolder(
      cloudDownloadRoot, currentApple_ID, node->strDeviceSerial, node->backupID));
  ScaniCloudBackup(node->backUpFilePath);
}

void RetrievoAppDelegate::DownloadiCloudBackUpFinishedOnMaind(std::int32_t) {
  if (cloud::downloadStopRequested()) {
    setCloudState([](CloudViewState& s) { s.stopBusy = false; });
    return;
  }
  std::shared_ptr<MzIOSDeviceNode> node = currentNode;
  if (!node) return;
  writeCloudDownloadRecord(*node, true);
  if (cloudView_ != nullptr) cloudView_->backupListChanged();
  scanDownloadedNode(node);
}

void RetrievoAppDelegate::DownloadiCloudBackUpFailedOnMaind(std::int32_t) {
  setCloudState([](CloudViewState& s) { s.circleBusy = false; });
  if (cloudView_ != nullptr) cloudView_->alertDownloadFailed();
  setCloudState([](CloudViewState& s) { s.panel = CloudPanel::BackupList; });
}

void RetrievoAppDelegate::StopDownloadiCloudBackupAction() {
  if (cloudView_ != nullptr && !cloudView_->confirmStopDownload()) return;
  cloud::requestDownloadStop();
  setCloudState([](CloudViewState& s) {
    s.panel = CloudPanel::Analysing;
    s.stopBusy = true;
  });
  std::shared_ptr<MzIOSDeviceNode> node = currentNode;
  if (!node) return;
  writeCloudDownloadRecord(*node, false);
  setCloudState([](CloudViewState& s) { s.panel = CloudPanel::BackupList; });
  scanDownloadedNode(node);
}

void RetrievoAppDelegate::ScanPreviouDownloadBackupFile() {
  setCloudState([](CloudViewState& s) {
    s.panel = CloudPanel::BackupList;
    s.signButtonImage = "Signin.png";
    s.storedAppleIdShown = false;
  });
  icloudDeviceController_.removeAllObjects();
  icloudDeviceController_.addDownloadNodeByFilePath(cloudDownloadRoot);
  if (cloudView_ != nullptr) cloudView_->backupListChanged();
}

bool RetrievoAppDelegate::bICloudBackuphasDownload() {
  return ::bICloudBackuphasDownload(cloudDownloadRoot);
}

void RetrievoAppDelegate::ScaniCloudBackupFiles() {
  if (icloudDeviceController_.count() == 0) return;
  bIOSRecoveryMode = false;
  const std::optional<std::size_t> row =
      cloudView_ != nullptr ? cloudView_->selectedBackupRow() : std::nullopt;
  if (!row || *row >= icloudDeviceController_.count()) return;
  std::shared_ptr<MzIOSDeviceNode> node = icloudDeviceController_.arrangedObjects()[*row];
  setCurrentNodeForScan(node);
  if (hideMainView) hideMainView();
  if (showResultView) showResultView();
  if (node->backUpFilePath.empty()) {
    node->backUpFilePath = cloud::mergeFolder(cloud::downloadFolder(
        cloudDownloadRoot, currentApple_ID, node->strDeviceSerial, node->backupID));
  }
  ScaniCloudBackup(node->backUpFilePath);
}

void RetrievoAppDelegate::endCloudThread() {
  if (closeWhenCloudThreadEnds_.exchange(false)) bridge->close();
  --cloudThreadsRunning_;
}

void RetrievoAppDelegate::waitForCloudThreads() {
  for (std::thread* t : {&loginicloudThread, &downloadicloudThread}) {
    if (t->joinable() && t->get_id() != std::this_thread::get_id()) t->join();
  }
}
