#include "cli/json_records.h"

namespace {
template <typename T>
nlohmann::json optionalJson(const std::optional<T>& v) {
  return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
}
}  // namespace

nlohmann::json toJson(const MzIOSDeviceNode& n) {
  return nlohmann::json{
      {"strDeviceName", n.strDeviceName},
      {"strDeviceSize", n.strDeviceSize},
      {"strDeviceBackUpTime", n.strDeviceBackUpTime},
      {"strDeviceSerial", n.strDeviceSerial},
      {"strDeviceType", n.strDeviceType},
      {"strIOSVersion", n.strIOSVersion},
      {"deviceImage", optionalJson(n.deviceImage)},
      {"itunesVersion", n.itunesVersion},
      {"backUpFilePath", n.backUpFilePath},
      {"haveDownload", n.haveDownload},
      {"backupID", n.backupID},
      {"backupFileSize", n.backupFileSize},
      {"iCloudID", optionalJson(n.iCloudID)},
  };
}

nlohmann::json toJson(const MzTreeDirNode& r, bool storedFileExists) {
  auto orNull = [](const std::string& s) { return s.empty() ? nlohmann::json(nullptr) : nlohmann::json(s); };
  return nlohmann::json{{"fileDomain", orNull(r.fileDomain)},
                        {"filePath", orNull(r.filePath)},
                        {"fileKey", r.fileKey},
                        {"exists", storedFileExists}};
}
