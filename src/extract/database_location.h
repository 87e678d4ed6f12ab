// Finding the stored file of a device database or list.
//
// A scanner first tries the fixed file keys of its database (the second only when the first
// has no stored file). When neither has one, the database is looked up by its device path in
// the file index, in any domain: some iOS versions keep a file in another domain than the
// one its fixed key was computed from (iOS 7 keeps Safari's History.plist in
// AppDomain-com.apple.mobilesafari). The file found that way is logged.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "catalogue/tree_dir_node.h"

struct DatabaseLocation {
  std::string storedFile;  // full path of the stored file
  std::string domain;      // the domain the file belongs to (for the key of its log)
  std::string path;        // its device path

  // The device file as the user knows it: "DOMAIN-PATH".
  std::string deviceFile() const { return domain + "-" + path; }
  // The last component of the device path, "sms.db": the name records give as their origin.
  std::string fileName() const { return path.substr(path.rfind('/') + 1); }
};

// `keys` are the fixed file keys in order, each with the domain and device path it stands
// for; `devicePaths` the device paths to look for in the index when no fixed key has a file.
struct DatabaseCandidate {
  std::string key;
  std::string domain;
  std::string path;
};

std::optional<DatabaseLocation> locateDatabase(const std::string& backupFolder,
                                               const std::vector<DatabaseCandidate>& keys,
                                               const FileIndex& index);
