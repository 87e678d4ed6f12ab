// Where downloaded cloud backups are kept: one folder per backup,
// "<root>/<account>/<serial>_<number>", holding the files in "merge" and the download record
// "info.plist".
//
// Account names and serials come from the user and from the cloud list; one that is empty,
// "." or "..", or that holds "/", NUL or a control character is refused, so no folder is ever
// made or read outside the root.
#pragma once

#include <cstdint>
#include <string>

namespace cloud {

// The root the platform uses for downloads.
inline constexpr char kDefaultCloudDownloadRoot[] = "/var/tmp";

// $RETRIEVO_CLOUD_DOWNLOADS when set and not empty, else kDefaultCloudDownloadRoot.
std::string cloudDownloadRoot();

// Empty when `name` may be one folder name under the root, else why not.
std::string refuseFolderName(const std::string& name);

// "<root>/<account>/<serial>_<number>" (no checks; see makeDownloadFolder).
std::string downloadFolder(const std::string& root, const std::string& account,
                           const std::string& serial, std::int32_t number);
// "<download folder>/merge" and "<download folder>/info.plist".
std::string mergeFolder(const std::string& downloadFolder);
std::string downloadRecordPath(const std::string& downloadFolder);

// Checks the account and serial, then makes the account folder, the backup folder and its
// "merge" folder, each with paths::makePrivateFolder (mode 0700; a symbolic link or a folder
// of another user is refused). The root must exist. Empty on success, else the reason.
std::string makeDownloadFolder(const std::string& root, const std::string& account,
                               const std::string& serial, std::int32_t number);

}  // namespace cloud
