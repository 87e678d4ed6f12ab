// Where a backup folder stores the file of a file key.
//
// Every reader in the system that opens a device file by its file key goes through
// storedFilePath(): backups written by older sync software keep the file flat as
// <backup>/<key>, current ones as <backup>/<first two digits of the key>/<key>. The scanners
// of the device databases open their databases through this function, so that both layouts
// are read alike. The bytes of a stored file are read through stored_plaintext.h, which
// decrypts the files of an encrypted backup on the way.
#pragma once

#include <string>

// The path of the stored file of `key` (40 hex digits, optionally with a suffix such as
// ".mddata" or "-wal") in `backupFolder`: the flat path when that file exists, else the
// two-digit folder path when that one exists, else the flat path.
std::string storedFilePath(const std::string& backupFolder, const std::string& key);

// The file key of a device file: the SHA-1 digest text of domain + "-" + path, or ""
// when the digest fails.
std::string fileKeyFor(const std::string& domain, const std::string& path);

// A stored file opened for reading, or why it was not.
struct OpenedStoredFile {
  int fd = -1;          // open read-only descriptor, -1 when not opened; the caller closes it
  int error = 0;        // errno of the failure, 0 when opened
  bool refused = false; // the path is a link, not a regular file, or outside the folder
  // The reason in a few English words ("" when opened): "not a regular file inside the
  // backup" for a refused file, else the system's text of `error`.
  std::string reason() const;
};

// Opens the file at `path`, which must lie inside `backupFolder` (the folder itself as the
// user named it, links included), for reading. Device backups hold no links, so none is
// followed below the folder: each folder on the way and the file itself are opened without
// following links (O_NOFOLLOW), and the open file must be a regular file (fstat on the
// descriptor, so a file swapped in meanwhile is seen). A FIFO or device is never waited on.
// A path with a ".." component, or one not below `backupFolder`, is refused unopened.
OpenedStoredFile openStoredFile(const std::string& backupFolder, const std::string& path);

// Opens `name` in the folder of `dirFd` (AT_FDCWD for the working folder) for reading,
// without following a link at the name, and only when it is a regular file.
OpenedStoredFile openRegularFileAt(int dirFd, const char* name);
