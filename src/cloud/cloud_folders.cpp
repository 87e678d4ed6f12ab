#include "cloud/cloud_folders.h"

#include <cstdlib>

#include "base/paths.h"

namespace cloud {

std::string cloudDownloadRoot() {
  const char* root = std::getenv("RETRIEVO_CLOUD_DOWNLOADS");
  if (root && *root) return root;
  return kDefaultCloudDownloadRoot;
}

std::string refuseFolderName(const std::string& name) {
  if (name.empty()) return "is empty";
  if (name == "." || name == "..") return "names a relative folder";
  for (unsigned char c : name) {
    if (c == '/') return "holds a path separator";
    if (c == 0) return "holds a NUL character";
    if (c < 0x20 || c == 0x7f) return "holds a control character";
  }
  return {};
}

std::string downloadFolder(const std::string& root, const std::string& account,
                           const std::string& serial, std::int32_t number) {
  return root + "/" + account + "/" + serial + "_" + std::to_string(number);
}

std::string mergeFolder(const std::string& downloadFolder) { return downloadFolder + "/merge"; }

std::string downloadRecordPath(const std::string& downloadFolder) {
  return downloadFolder + "/info.plist";
}

std::string makeDownloadFolder(const std::string& root, const std::string& account,
                               const std::string& serial, std::int32_t number) {
  if (std::string why = refuseFolderName(account); !why.empty()) return "account name " + why;
  if (std::string why = refuseFolderName(serial); !why.empty()) return "device serial " + why;
  const std::string accountFolder = root + "/" + account;
  const std::string backupFolder = downloadFolder(root, account, serial, number);
  for (const std::string& folder : {accountFolder, backupFolder, mergeFolder(backupFolder)}) {
    if (std::string why = paths::makePrivateFolder(folder); !why.empty()) return folder + " " + why;
  }
  return {};
}

}  // namespace cloud
