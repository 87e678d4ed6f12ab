#include "cli/commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "catalogue/backup_folder.h"
#include "cli/backup_password.h"

namespace cli {

int& exitCode() {
  static int code = kExitOk;
  return code;
}

int checkBackupFolder(const std::string& folder, const std::string& passwordFile) {
  BackupFolderKind kind = classifyBackupFolder(folder);
  if (kind == BackupFolderKind::Backup) return kExitOk;
  if (kind == BackupFolderKind::EncryptedBackup) return unlockBackupFolder(folder, passwordFile);
  std::cerr << "retrievo: " << backupFolderProblem(kind, folder) << '\n';
  return kind == BackupFolderKind::EncryptedBackup ? kExitEncrypted : kExitFailure;
}

std::string outputFileProblem(const std::string& target, const std::string& backup) {
  struct stat st {};
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) return "will not write through a symbolic link: " + target;
    if (!S_ISREG(st.st_mode)) return "not a regular file: " + target;
  }
  if (isInsideFolder(target, backup)) return "will not write inside the backup folder: " + target;
  return {};
}

}  // namespace cli
