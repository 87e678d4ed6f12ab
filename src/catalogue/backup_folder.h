// Facts about a backup folder that the front ends check before they read it.
#pragma once

#include <string>

enum class BackupFolderKind {
  Missing,        // no such folder, or a path that is not a folder
  NotABackup,     // no Info.plist, no Manifest.plist with "Lockdown", no manifest
  Backup,         // a device backup that can be read
  EncryptedBackup // Manifest.plist says "IsEncrypted": the files are enciphered
};

// What `folder` is. A folder counts as a backup when the catalogue would list it or when
// it holds a manifest (Manifest.mbdb or Manifest.db).
BackupFolderKind classifyBackupFolder(const std::string& folder);

// Manifest.plist of the folder says "IsEncrypted" = true.
bool isEncryptedBackup(const std::string& folder);

// The one-line reason shown when a folder of this kind cannot be read, or "" for a
// readable backup.
std::string backupFolderProblem(BackupFolderKind kind, const std::string& folder);

// True when `inner` lies inside `outer` (or is it), both resolved through links and "..":
// the check every writer makes before it writes anywhere near a backup.
bool isInsideFolder(const std::string& inner, const std::string& outer);
