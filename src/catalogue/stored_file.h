// Where a backup folder stores the file of a file key.
//
// Every reader in the system that opens a device file by its file key goes through
// storedFilePath(): backups written by older sync software keep the file flat as
// <backup>/<key>, current ones as <backup>/<first two digits of the key>/<key>. The scanners
// of the device databases open their databases through this function, so that both layouts
// are read alike.
#pragma once

#include <string>

// The path of the stored file of `key` (40 hex digits, optionally with a suffix such as
// ".mddata" or "-wal") in `backupFolder`: the flat path when that file exists, else the
// two-digit folder path when that one exists, else the flat path.
std::string storedFilePath(const std::string& backupFolder, const std::string& key);

// The file key of a device file: the SHA-1 digest text of domain + "-" + path, or ""
// when the digest fails.
std::string fileKeyFor(const std::string& domain, const std::string& path);
