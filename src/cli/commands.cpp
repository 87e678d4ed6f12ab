#include "cli/commands.h"

#include <iostream>

#include "catalogue/backup_folder.h"

namespace cli {

int& exitCode() {
  static int code = kExitOk;
  return code;
}

int checkBackupFolder(const std::string& folder) {
  BackupFolderKind kind = classifyBackupFolder(folder);
  if (kind == BackupFolderKind::Backup) return kExitOk;
  std::cerr << "retrievo: " << backupFolderProblem(kind, folder) << '\n';
  return kind == BackupFolderKind::EncryptedBackup ? kExitEncrypted : kExitFailure;
}

}  // namespace cli
