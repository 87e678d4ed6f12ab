// Where the user's folders are on this platform.
#pragma once

#include <string>

namespace paths {

// The user's home folder: the password database's entry for this user, else $HOME,
// else "/".
std::string homeFolder();

// Where the device-sync software keeps device backups:
// $RETRIEVO_BACKUP_ROOT when set and not empty, else
// <home>/Library/Application Support/MobileSync/Backup.
std::string backupRoot();

// <home>/Documents, the folder of the hex preview export.
std::string documentsFolder();

}  // namespace paths
