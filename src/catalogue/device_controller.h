// The backup catalogue: the list of backup records, in the order folders were added.
//
// A folder qualifies when it holds at least two entries and an Info.plist, or a
// Manifest.plist with a "Lockdown" dictionary; Info.plist is preferred. Records made from
// Manifest.plist carry the device OS build in itunesVersion and no strDeviceSize.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/device_node.h"

class MzIOSDeviceController {
 public:
  const std::vector<std::shared_ptr<MzIOSDeviceNode>>& arrangedObjects() const { return content_; }
  std::size_t count() const { return content_.size(); }
  void addObject(std::shared_ptr<MzIOSDeviceNode> node) { content_.push_back(std::move(node)); }
  void removeAllObjects() { content_.clear(); }

  // Reads the folder and, if it qualifies, appends one new record with the size of its
  // stored files (storedBytes, from one walk of the folder). Logs "Filepath is not exist"
  // for a missing folder. `refusal` as for readDeviceNode.
  void addDeviceNodeByPath(const std::string& folderPath, std::string* refusal = nullptr);

  // The record a qualifying folder gives, without appending it and without storedBytes. When the
  // folder holds an Info.plist or Manifest.plist that could not be read and so gives no record,
  // `refusal` (if given) is set to why, e.g. "Info.plist nested too deeply"; otherwise it is
  // emptied.
  static std::optional<MzIOSDeviceNode> readDeviceNode(const std::string& folderPath,
                                                       std::string* refusal = nullptr);

  // The model key of a product type (first hit of a case-insensitive substring search of
  // the product-type table, passed through the localisation), or none when nothing matches.
  static std::optional<std::string> GetDevcieType(const std::optional<std::string>& productType);

  // The icon resource for a model text: "ipad" for the iPad models, else "iphone".
  static std::string iconForModel(const std::string& model);

  // The backup time a list shows: Info.plist's "Last Backup Date" when the record has one
  // (a backup copied from another computer keeps the time it was made), else
  // strDeviceBackUpTime; local time, YYYY-MM-DD HH:MM.
  static std::string listedBackupTime(const MzIOSDeviceNode& node);
  // The size a list shows, in bytes as decimal text: storedBytes when the record has it,
  // else strDeviceSize.
  static std::string listedSize(const MzIOSDeviceNode& node);

  // A date text "YYYY-MM-DD HH:MM[:SS] [+ZZZZ]" (UTC when it has no zone) as
  // "YYYY-MM-DD HH:MM" in the local time zone. Text that is not such a date comes back
  // unchanged.
  static std::string convertCurrentTimeZone2(const std::string& dateText);

  // The host operating system's version from uname(2); on failure logs
  // "Unable to obtain system version: %ld" and reports 10.0.0. Any out-parameter may be
  // null.
  static void getSystemVersionMajor(int* major, int* minor, int* bugFix);

 private:
  std::vector<std::shared_ptr<MzIOSDeviceNode>> content_;
};

// The OS-version check that chooses the device-database generation: true for versions 6
// and 7; version 7 also sets `bIOS7DeviceNode` (which is never cleared here).
bool IOSVersionIOS6(const std::optional<std::string>& version, bool& bIOS7DeviceNode);
