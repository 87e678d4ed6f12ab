#include "catalogue/backup_list_controller.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "base/localization.h"

namespace fs = std::filesystem;

void BackupListController::setSelection(std::optional<std::size_t> row) {
  if (row && *row >= catalogue_.count()) row.reset();
  selected_ = row;
  scanEnabled_ = row.has_value();
  if (view_) {
    view_->selectRow(row);
    view_->setScanButtonEnabled(scanEnabled_);
  }
}

std::vector<SkippedBackup> BackupListController::showIphoneDisk(const std::string& backupRoot) {
  std::error_code ec;
  std::vector<std::string> names;
  for (fs::directory_iterator it(backupRoot, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  std::vector<SkippedBackup> skipped;
  for (const std::string& name : names) {
    if (name.empty() || name[0] == '.') continue;
    std::string refusal;
    catalogue_.addDeviceNodeByPath(backupRoot + "/" + name, &refusal);
    if (!refusal.empty()) skipped.push_back({backupRoot + "/" + name, std::move(refusal)});
  }
  if (view_) view_->reloadRows(catalogue_.arrangedObjects());
  setSelection(catalogue_.count() == 0 ? std::nullopt : std::optional<std::size_t>(0));
  return skipped;
}

std::vector<SkippedBackup> BackupListController::showIphoneDiskView(const std::string& backupRoot) {
  catalogue_.removeAllObjects();
  return showIphoneDisk(backupRoot);
}

void BackupListController::SelectBackUpAction() {
  if (!view_) return;
  auto folder = view_->chooseFolder(
      localizedString("Please select the iTunes backup from the floder to recover your data."));
  if (!folder) return;
  catalogue_.addDeviceNodeByPath(*folder);
  view_->reloadRows(catalogue_.arrangedObjects());
  if (catalogue_.count() > 0) {
    setSelection(catalogue_.count() - 1);
  } else {
    setSelection(std::nullopt);
  }
}

void BackupListController::tableViewSelectionDidChange(std::optional<std::size_t> row) {
  setSelection(row);
}

std::shared_ptr<MzIOSDeviceNode> BackupListController::recordForScan() {
  if (catalogue_.count() == 0) {
    if (view_) {
      view_->showAlert(localizedString("No iTunes backup found. Please connect your device and "
                                       "recover from iOS device."),
                       {localizedString("Ok")});
    }
    return nullptr;
  }
  if (!selected_ || *selected_ >= catalogue_.count()) return nullptr;
  return catalogue_.arrangedObjects()[*selected_];
}
