// The download record "info.plist" kept beside a downloaded cloud backup's "merge" folder: a
// property-list dictionary of texts that lets the backup be offered again without signing in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct MzIOSDeviceNode;

namespace cloud {

// The record's texts, by their keys in the file.
struct DownloadRecord {
  std::string iCloudName;
  std::string iCloudDate;
  std::string iCloudUDID;
  std::string iCloudiOSVersion;
  std::string iCloudBackupFileSize;
  std::string iCloudType;  // "iphone" or "ipad"
};

// The record of a cloud backup record: name, backup time, serial, OS version, size text, and
// "iphone" when its deviceImage is "iphone", else "ipad".
DownloadRecord downloadRecordFor(const MzIOSDeviceNode& node);

// Writes `record` as an XML property list to `path`, keys in the order above, atomically
// (a temporary file in the same folder renamed over `path`). Empty on success, else why.
std::string writeDownloadRecord(const std::string& path, const DownloadRecord& record);

// Reads a record. Anything that is not a property-list dictionary (missing, unreadable, too
// large, malformed) gives a record of empty texts; a key that is absent or not a text gives
// an empty text.
DownloadRecord readDownloadRecord(const std::string& path);
// The same from bytes in memory.
DownloadRecord parseDownloadRecord(const std::uint8_t* data, std::size_t size);

}  // namespace cloud
