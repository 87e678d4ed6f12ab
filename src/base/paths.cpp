#include "base/paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
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

}  // namespace paths
