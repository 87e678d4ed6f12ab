#include "app/retrievo_app_delegate.h"

#include "base/paths.h"
#include "cloud/cloud_folders.h"
#include "extract/media_scanner.h"
#include "extract/phone_names.h"

RetrievoAppDelegate& RetrievoAppDelegate::GetAppControllor() {
  static RetrievoAppDelegate delegate;
  return delegate;
}

RetrievoAppDelegate::RetrievoAppDelegate(NotificationCenter& center)
    : nc(center),
      cloudDownloadRoot(cloud::cloudDownloadRoot()),
      backupList_(deviceController_, nullptr) {
  cloudProgressObserver_ = nc.addObserver("DownloadiCloudProgressInfo", [this](const std::any& o) {
    DownloadiCloudProgressInfoHandle(o);
  });
}

void RetrievoAppDelegate::setBackupListView(BackupListView* view) { backupList_.setView(view); }

void RetrievoAppDelegate::showIphoneDisk() { backupList_.showIphoneDisk(paths::backupRoot()); }

void RetrievoAppDelegate::showIphoneDiskView() {
  backupList_.showIphoneDiskView(paths::backupRoot());
}

bool RetrievoAppDelegate::IOSVersionIOS6(const std::optional<std::string>& version) {
  return ::IOSVersionIOS6(version, bIOS7DeviceNode);
}

void RetrievoAppDelegate::setCurrentNodeForScan(std::shared_ptr<MzIOSDeviceNode> node) {
  currentNode = std::move(node);
  currentNodeIsiOS6Version = currentNode ? IOSVersionIOS6(currentNode->strIOSVersion) : false;
}

void RetrievoAppDelegate::createScanLists() { scan = std::make_unique<ScanLists>(); }

void RetrievoAppDelegate::removeSomeArray() {
  if (scan) scan->noteArray.clear();
  scan.reset();
}

ManifestReadResult RetrievoAppDelegate::scanDirAnalyThread(const std::string& backupFolder,
                                                           DatabasePreparer* databases) {
  if (!scan) createScanLists();
  ManifestReadOptions options;
  options.nc = &nc;
  options.bIOSRecoveryMode = bIOSRecoveryMode;
  options.GetMediaFileByNode = [this](const std::shared_ptr<MzTreeDirNode>& node) {
    GetMediaFileByNode(node);
  };
  // Only a scan reads the photo library: a plain file listing has no use for its copy.
  if (databases != nullptr) currentRoll_ = currentCameraRollOf(backupFolder, *databases);
  ManifestReadResult result = ::scanDirAnalyThread(backupFolder, scan->treeFileArray, options);
  if (currentRoll_) currentRoll_->post(nc, &scanProblems);
  currentRoll_.reset();
  return result;
}

void RetrievoAppDelegate::GetMediaFileByNode(const std::shared_ptr<MzTreeDirNode>& node) {
  ::GetMediaFileByNode(node, nc, &scanProblems, currentRoll_ ? &*currentRoll_ : nullptr);
}

std::optional<std::string> RetrievoAppDelegate::getFileKeyBytheFilepath(
    const std::string& path) const {
  if (!scan) return std::nullopt;
  return ::getFileKeyBytheFilepath(scan->treeFileArray, path);
}

std::optional<std::string> RetrievoAppDelegate::getNameByPhoneNumber(
    const std::string& phone) const {
  if (!scan) return std::nullopt;
  return ::getNameByPhoneNumber(phone, scan->contactArray);
}

std::optional<std::string> RetrievoAppDelegate::getNameByPhoneNumberWithData(
    const std::string& phone) {
  if (!scan) return std::nullopt;
  return ::getNameByPhoneNumberWithData(phone, scan->contactArray, scan->messageContactData);
}
