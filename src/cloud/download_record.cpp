#include "cloud/download_record.h"

#include <plist/plist.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include "catalogue/device_node.h"
#include "catalogue/plist_file.h"
#include "results/file_copy.h"

namespace cloud {
namespace {

// The keys in the order they are written.
constexpr const char* kKeys[] = {"iCloudName",       "iCloudDate",           "iCloudUDID",
                                 "iCloudiOSVersion", "iCloudBackupFileSize", "iCloudType"};

std::string* fieldFor(DownloadRecord& record, std::size_t index) {
  std::string* fields[] = {&record.iCloudName,           &record.iCloudDate,
                           &record.iCloudUDID,           &record.iCloudiOSVersion,
                           &record.iCloudBackupFileSize, &record.iCloudType};
  return fields[index];
}

DownloadRecord recordFrom(const std::optional<PlistValue>& value) {
  DownloadRecord record;
  const PlistDict* dict = value ? value->asDict() : nullptr;
  if (!dict) return record;
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    if (auto text = plistString(*dict, kKeys[i])) *fieldFor(record, i) = *text;
  }
  return record;
}

// The record is a few hundred bytes; anything far larger is not one.
constexpr std::uint64_t kMaxRecordSize = 1024 * 1024;

}  // namespace

DownloadRecord downloadRecordFor(const MzIOSDeviceNode& node) {
  DownloadRecord record;
  record.iCloudName = node.strDeviceName;
  record.iCloudDate = node.strDeviceBackUpTime;
  record.iCloudUDID = node.strDeviceSerial;
  record.iCloudiOSVersion = node.strIOSVersion;
  record.iCloudBackupFileSize = node.strDeviceSize;
  record.iCloudType = node.deviceImage == std::optional<std::string>("iphone") ? "iphone" : "ipad";
  return record;
}

std::string writeDownloadRecord(const std::string& path, const DownloadRecord& record) {
  std::unique_ptr<void, void (*)(plist_t)> dict(plist_new_dict(), plist_free);
  DownloadRecord copy = record;
  for (std::size_t i = 0; i < std::size(kKeys); ++i) {
    plist_dict_set_item(dict.get(), kKeys[i], plist_new_string(fieldFor(copy, i)->c_str()));
  }
  char* xml = nullptr;
  std::uint32_t length = 0;
  plist_to_xml(dict.get(), &xml, &length);
  if (!xml) return "the property list could not be made";
  std::string error;
  const bool written = writeFileAtomically(path, std::string_view(xml, length), &error);
  std::free(xml);
  return written ? std::string() : error;
}

DownloadRecord readDownloadRecord(const std::string& path) {
  return recordFrom(readPlistFile(path, kMaxRecordSize));
}

DownloadRecord parseDownloadRecord(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxRecordSize) return {};
  return recordFrom(parsePlist(data, size));
}

}  // namespace cloud
