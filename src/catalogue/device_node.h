// The backup record: one device backup folder, however it was found.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct MzIOSDeviceNode {
  std::string strDeviceName;
  std::string strDeviceSize;        // Info.plist's size in bytes; empty from Manifest.plist
  std::string strDeviceBackUpTime;  // local time, YYYY-MM-DD HH:MM
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
