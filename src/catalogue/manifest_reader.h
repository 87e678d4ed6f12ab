// The manifest reader: turns a backup folder's manifest into the file index.
//
// Two manifest layouts are read. "Manifest.mbdb" (older sync software) is a binary list of
// entries; "Manifest.db" (current sync software) is an SQLite database with the table
// Files(fileID, domain, relativePath, flags, file). Either way every entry becomes one
// MzTreeDirNode with fileDomain, filePath and fileKey set, in manifest order. For each
// record, in this order: "FindBackUpDirFileInfo" is posted with it, then (unless recovery
// mode is on) "ScanProgressInfo" with a std::int32_t from 0 to 20, then the media hand-off
// is called, then the record is appended to the index.
//
// The reader never reads outside the file: an entry cut short by the end of the file ends
// the walk, keeps the records read so far and logs one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/tree_dir_node.h"

class NotificationCenter;

struct ManifestReadOptions {
  NotificationCenter* nc = nullptr;  // where to post; the default centre when null
  bool bIOSRecoveryMode = false;     // suppresses "ScanProgressInfo"
  // Called with every record after its notifications (the media classification).
  std::function<void(const std::shared_ptr<MzTreeDirNode>&)> GetMediaFileByNode;
};

enum class ManifestStatus {
  Read,       // the whole manifest was read
  Missing,    // no manifest in the folder, or it cannot be opened
  BadHeader,  // not a manifest of a known layout
  Truncated,  // an entry ran past the end of the file; the records before it were kept
};

struct ManifestReadResult {
  ManifestStatus status = ManifestStatus::Missing;
  std::size_t entries = 0;   // records appended to the index
  std::string manifestName;  // "Manifest.mbdb", "Manifest.db" or "" when none was read
};

// Reads the folder's manifest into `index` (appending): Manifest.mbdb when it exists,
// otherwise Manifest.db. The Manifest.db of an unlocked encrypted backup is read from its
// decrypted copy (see unlocked_backup.h).
ManifestReadResult scanDirAnalyThread(const std::string& backupFolder, FileIndex& index,
                                      const ManifestReadOptions& options);

// The two layouts on their own. In Manifest.db a record whose computed key differs from its
// fileID is logged (one line) and takes the fileID, when that is 40 hexadecimal digits.
ManifestReadResult readManifestMbdb(const std::string& backupFolder, FileIndex& index,
                                    const ManifestReadOptions& options);
ManifestReadResult readManifestDb(const std::string& backupFolder, FileIndex& index,
                                  const ManifestReadOptions& options);

// Reads Manifest.mbdb bytes already in memory; `backupFolder` is where the stored files
// live (for the records' fileKey). Progress counts positions within `size`.
ManifestReadResult readManifestMbdbBytes(const std::uint8_t* data, std::size_t size,
                                         const std::string& backupFolder, FileIndex& index,
                                         const ManifestReadOptions& options);

// The encryption-key field of every Manifest.mbdb entry that has one, by the entry's file key
// (as the reader above computes it); none when the manifest cannot be read or has no
// "mbdb" header. A cut-short manifest gives the entries before the cut.
std::optional<std::unordered_map<std::string, std::vector<std::uint8_t>>> readMbdbEncryptionKeys(
    const std::uint8_t* data, std::size_t size);
std::optional<std::unordered_map<std::string, std::vector<std::uint8_t>>> readMbdbEncryptionKeys(
    const std::string& backupFolder);

// The fileKey of the latest record in `index` whose filePath equals `path` exactly
// (the domain is not compared), or none.
std::optional<std::string> getFileKeyBytheFilepath(const FileIndex& index, const std::string& path);
