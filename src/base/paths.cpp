#include "base/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

namespace paths {

std::string homeFolder() {
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result &&
      result->pw_dir && result->pw_dir[0] != '\0') {
    return result->pw_dir;
  }
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return home;
  return "/";
}

std::string backupRoot() {
  const char* root = std::getenv("RETRIEVO_BACKUP_ROOT");
  if (root && root[0] != '\0') return root;
  return homeFolder() + "/Library/Application Support/MobileSync/Backup";
}

std::string documentsFolder() { return homeFolder() + "/Documents"; }

std::string runningProgramFolder() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.parent_path().string();
}

std::string makePrivateFolder(const std::string& folder) {
  if (folder.empty()) return "no folder given";
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::strerror(errno);
  // Whether made now or found, the folder is checked without following a link.
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISLNK(st.st_mode)) return "is a symbolic link";
  if (!S_ISDIR(st.st_mode)) return "is not a folder";
  if (st.st_uid != ::geteuid()) return "belongs to another user";
  return {};
}

}  // namespace paths
