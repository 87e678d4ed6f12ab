// The backup record: one device backup folder, however it was found.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct MzIOSDeviceNode {
  std::string strDeviceName;
  std::string strDeviceSize;        // Info.plist's size in bytes; empty from Manifest.plist
  std::string strDeviceBackUpTime;  // the plist's last write, local time, YYYY-MM-DD HH:MM
  // Info.plist's "Last Backup Date", in whole seconds since 1970-01-01 UTC.
  std::optional<std::int64_t> lastBackupDate;
  // The regular files under the backup folder, their sizes summed; set when listed.
  std::optional<std::uint64_t> storedBytes;
  std::string strDeviceSerial;
  std::string strDeviceType;  // model from the product-type table; empty when none matches
  std::string strIOSVersion;
  std::optional<std::string> deviceImage;  // the icon's resource name: "ipad" or "iphone"
  std::string itunesVersion;  // sync-software version, or the OS build from Manifest.plist
  std::string backUpFilePath;
  // Cloud records only.
  bool haveDownload = false;
  std::int32_t backupID = -1;
  std::uint64_t backupFileSize = 0;
  std::optional<std::string> iCloudID;
};
