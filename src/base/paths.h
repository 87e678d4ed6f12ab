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

// The folder of the running program (where its companion programs are built and installed);
// empty when it cannot be told.
std::string runningProgramFolder();

// Makes `folder` a working folder only this user can reach: created with mode 0700 when
// missing (its parent must exist), accepted when it already is a real folder owned by this
// user. A symbolic link, a file, or a folder owned by someone else is refused, so that a
// folder planted in a shared place such as /tmp cannot redirect what is written into it.
// Empty on success, else the reason in a few words ("is a symbolic link", ...).
std::string makePrivateFolder(const std::string& folder);

}  // namespace paths
