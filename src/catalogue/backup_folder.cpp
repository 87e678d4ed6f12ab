#include "catalogue/backup_folder.h"

#include <filesystem>
#include <system_error>

#include "catalogue/device_controller.h"
#include "catalogue/plist_file.h"

namespace fs = std::filesystem;

bool isEncryptedBackup(const std::string& folder) {
  auto manifest = readPlistDictionary(folder + "/Manifest.plist");
  return manifest && plistBool(*manifest, "IsEncrypted").value_or(false);
}

BackupFolderKind classifyBackupFolder(const std::string& folder) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return BackupFolderKind::Missing;
  bool listed = MzIOSDeviceController::readDeviceNode(folder).has_value();
  bool hasManifest = fs::is_regular_file(folder + "/Manifest.mbdb", ec) ||
                     fs::is_regular_file(folder + "/Manifest.db", ec);
  if (!listed && !hasManifest) return BackupFolderKind::NotABackup;
  if (isEncryptedBackup(folder)) return BackupFolderKind::EncryptedBackup;
  return BackupFolderKind::Backup;
}

std::string backupFolderProblem(BackupFolderKind kind, const std::string& folder) {
  switch (kind) {
    case BackupFolderKind::Missing: {
      std::error_code ec;
      return (fs::exists(folder, ec) ? "not a folder: " : "no such folder: ") + folder;
    }
    case BackupFolderKind::NotABackup:
      return "not a device backup: " + folder;
    case BackupFolderKind::EncryptedBackup:
      return "encrypted backups are not supported yet: " + folder;
    case BackupFolderKind::Backup:
      break;
  }
  return {};
}

bool isInsideFolder(const std::string& inner, const std::string& outer) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(fs::absolute(inner, ec), ec);
  if (ec) return false;
  const fs::path b = fs::weakly_canonical(fs::absolute(outer, ec), ec);
  if (ec) return false;
  const fs::path rel = a.lexically_relative(b);
  return !rel.empty() && *rel.begin() != "..";
}
