#include "cli/commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <system_error>

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
