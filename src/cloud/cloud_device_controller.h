// The cloud catalogue: the backups of the signed-in account (from the module's list) or the
// backups downloaded earlier (from their download records), as backup records.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/device_node.h"

// The largest list text parsed, and the deepest nesting of arrays and objects accepted in it.
// The list is a top-level array of device objects holding backup objects: three levels; the
// limit leaves room for what a module may add without letting hostile nesting run deep.
inline constexpr std::size_t kMaxCloudListSize = 16u * 1024 * 1024;
inline constexpr int kMaxCloudListNesting = 16;

// Parses the module's list text. None, with `why` set (when given), for text over
// kMaxCloudListSize, nesting deeper than kMaxCloudListNesting, text that is not JSON, or a top
// level that is not an array. Never throws.
std::optional<nlohmann::json> parseCloudBackupList(const std::string& text,
                                                   std::string* why = nullptr);

class MzICloudDeviceController {
 public:
  const std::vector<std::shared_ptr<MzIOSDeviceNode>>& arrangedObjects() const { return content_; }
  std::size_t count() const { return content_.size(); }
  void addObject(std::shared_ptr<MzIOSDeviceNode> node) { content_.push_back(std::move(node)); }
  void removeAllObjects() { content_.clear(); }

  // Appends one record per backup object of the list: for each device object, in order, each
  // of its values that is an object (others are logged and skipped). The record takes
  // strDeviceName "name", strDeviceBackUpTime "local_backup_time" as a date text,
  // strDeviceSerial the device's "udid", strIOSVersion "version", strDeviceSize and
  // backupFileSize "snapshot_size", backupID "snapshot_id", and deviceImage "iphone" when the
  // device's "product" is exactly "iPhone", else "ipad". An absent key, or a value of the wrong
  // kind, gives an empty text, size 0 or number 0. Null logs "cloud dictionary is nil".
  void addDeviceNodeByDictionary(const nlohmann::json* list);

  // Appends one record per download record "<root>/<account>/<backup>/info.plist" (see
  // downloadRecordsUnder). None logs "cloud path is nil".
  void addDownloadNodeByFilePath(const std::optional<std::string>& root);

 private:
  std::vector<std::shared_ptr<MzIOSDeviceNode>> content_;
};

// The backup record of a download record at "<backup folder>/info.plist": haveDownload,
// backUpFilePath "<backup folder>/merge", iCloudID the account folder's name. An unreadable
// record gives empty texts.
MzIOSDeviceNode downloadNodeFor(const std::string& backupFolder, const std::string& account);

// The backup folders under `root` that hold a download record, in listing order: a root of two
// entries or fewer holds none; account folders whose names begin with "." or are "launchd" are
// skipped. With `firstOnly`, the walk ends at the first one.
std::vector<std::pair<std::string, std::string>> downloadRecordsUnder(const std::string& root,
                                                                      bool firstOnly = false);

// True when at least one download record is under `root`.
bool bICloudBackuphasDownload(const std::string& root);

// A further cloud record type (the delegate's current cloud record).
struct MziCloudDeviceNode {
  std::string strDeviceName;
  std::string strDeviceSize;
  std::string strDeviceBackUpTime;
  std::string strDeviceSerial;
  std::string strDeviceType;
  std::string strIOSVersion;
  std::optional<std::string> deviceImage;
  std::string backUpFilePath;
  bool haveDownload = false;
  std::int32_t backupID = -1;
};
