// The file-index record and the backup-browser tree nodes.
//
// The manifest reader makes one MzTreeDirNode per manifest entry and sets fileDomain,
// filePath and fileKey (an empty text means the manifest held no value). The same class is
// a directory of the backup-browser tree, which uses the remaining members.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct MzTreeFileNode;

// What the file system says of a record's stored file, its last component not followed when
// it is a symbolic link (lstat).
struct StoredFileStatus {
  bool exists = false;  // the status could be read
  bool isLink = false;  // a symbolic link
  bool isRegular = false;
  std::uint64_t size = 0;  // of a regular file (its plaintext in an encrypted backup), else 0
};

struct MzTreeDirNode {
  MzTreeDirNode* parent = nullptr;  // enclosing directory, not owned; none for a root
  std::string fileName;             // directory name shown in the tree
  std::string fileDomain;           // backup domain of a file-index record
  std::string filePath;             // device path of a file-index record
  std::string fileKey;              // full path of the stored file, "" if the digest failed
  bool isFolder = false;            // the manifest entry is a directory
  bool isLink = false;              // the manifest entry is a symbolic link
  // The status of the stored file at fileKey, read once by storedFileStatus() and shared by
  // those who look at the record (the backup-browser tree, the media classification).
  std::optional<StoredFileStatus> storedStatus;
  std::string nodeIcon = "unselected";  // "unselected", "selected" or "selectedSome"
  bool isLeaf = false;
  std::int32_t isSelected = 0;  // 0 unselected, 1 selected, 2 partly selected
  std::vector<std::shared_ptr<MzTreeDirNode>> children;       // sorted by fileName
  std::vector<std::shared_ptr<MzTreeFileNode>> fileChildren;  // in arrival order
};

struct MzTreeFileNode {
  MzTreeDirNode* parent = nullptr;  // directory that holds it, not owned
  std::string treefileName;
  std::string treefileType;  // extension, or the whole name when it has none
  std::string fileSize;      // display size text
  std::uint64_t realFileSize = 0;
  bool isFile = false;      // the stored file exists in the backup folder
  std::string filePath;     // full path of the stored file
  std::string dirFilePath;  // domain and device path joined by "/"
  bool bSelected = false;
};

using FileIndex = std::vector<std::shared_ptr<MzTreeDirNode>>;

// The status of the record's stored file (fileKey), asked of the file system the first time
// and kept in the record after that; an empty fileKey has none (exists false). The record is
// changed unguarded: call it on the thread that delivers the record, or on one that waits for
// that thread or runs after it.
const StoredFileStatus& storedFileStatus(MzTreeDirNode& record);
