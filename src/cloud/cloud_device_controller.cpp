#include "cloud/cloud_device_controller.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/conversions.h"
#include "base/log.h"
#include "cloud/cloud_folders.h"
#include "cloud/download_record.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// The deepest nesting of arrays and objects in `text`, counted outside strings, or a number
// above `limit` as soon as it passes it. Run before parsing so that hostile nesting never
// reaches the parser.
int nestingDepth(const std::string& text, int limit) {
  int depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > limit) return deepest;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// A JSON number as a signed 64-bit integer; none for other kinds and for numbers that do not
// fit. A fractional number is cut toward zero.
std::optional<std::int64_t> integerValue(const json* value) {
  if (!value) return std::nullopt;
  if (value->is_number_integer() && !value->is_number_unsigned()) return value->get<std::int64_t>();
  if (value->is_number_unsigned()) {
    const auto n = value->get<std::uint64_t>();
    if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return std::nullopt;
    return static_cast<std::int64_t>(n);
  }
  if (value->is_number_float()) {
    const double d = value->get<double>();
    if (!std::isfinite(d) || d >= 9.2e18 || d <= -9.2e18) return std::nullopt;
    return static_cast<std::int64_t>(d);
  }
  return std::nullopt;
}

std::optional<std::uint64_t> unsignedValue(const json* value) {
  if (value && value->is_number_unsigned()) return value->get<std::uint64_t>();
  auto n = integerValue(value);
  if (!n || *n < 0) return std::nullopt;
  return static_cast<std::uint64_t>(*n);
}

std::string textValue(const json* value) {
  return value && value->is_string() ? value->get<std::string>() : std::string();
}

const json* member(const json& object, const char* key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

// The record of one backup object `backup` of the device object `device`.
MzIOSDeviceNode listedNode(const json& device, const json& backup) {
  MzIOSDeviceNode node;
  if (auto size = unsignedValue(member(backup, "snapshot_size"))) {
    node.backupFileSize = *size;
    node.strDeviceSize = sizeText(*size);
  }
  node.strIOSVersion = textValue(member(backup, "version"));
  node.strDeviceName = textValue(member(backup, "name"));
  if (auto seconds = integerValue(member(backup, "local_backup_time")))
    node.strDeviceBackUpTime = dateText(*seconds, 0);
  const auto id = integerValue(member(backup, "snapshot_id"));
  node.backupID = id && *id >= std::numeric_limits<std::int32_t>::min() &&
                          *id <= std::numeric_limits<std::int32_t>::max()
                      ? static_cast<std::int32_t>(*id)
                      : 0;
  node.strDeviceSerial = textValue(member(device, "udid"));
  node.deviceImage = textValue(member(device, "product")) == "iPhone" ? "iphone" : "ipad";
  return node;
}

// A value as the log shows it, cut short so that one large value cannot flood the log.
std::string loggedValue(const json& value) {
  constexpr std::size_t kMaxLogged = 256;
  std::string text = value.dump(-1, ' ', false, json::error_handler_t::replace);
  if (text.size() > kMaxLogged) text = text.substr(0, kMaxLogged) + "...";
  return text;
}

// A folder the walk may enter: a real folder (not a symbolic link) owned by this user, so
// that a folder someone else planted in the shared root is never offered as the user's own.
bool ownFolder(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

// The names in `folder`, sorted; empty when it cannot be listed.
std::vector<std::string> entryNames(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::optional<json> parseCloudBackupList(const std::string& text, std::string* why) {
  auto refuse = [why](std::string reason) -> std::optional<json> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  if (why) why->clear();
  if (text.size() > kMaxCloudListSize)
    return refuse("the backup list is too large (" + std::to_string(text.size()) +
                  " bytes, at most " + std::to_string(kMaxCloudListSize) + ")");
  if (nestingDepth(text, kMaxCloudListNesting) > kMaxCloudListNesting)
    return refuse("the backup list is nested too deeply");
  try {
    json list = json::parse(text, nullptr, false);
    if (list.is_discarded()) return refuse("the backup list is not JSON");
    if (!list.is_array()) return refuse("the backup list is not an array");
    return list;
  } catch (const json::exception& e) {
    return refuse(std::string("the backup list could not be read: ") + e.what());
  }
}

void MzICloudDeviceController::addDeviceNodeByDictionary(const json* list) {
  if (!list) {
    applog::line("cloud dictionary is nil");
    return;
  }
  if (!list->is_array()) return;
  for (const json& device : *list) {
    if (!device.is_object()) continue;
    for (const json& value : device) {
      applog::line("object==" + loggedValue(value) + ",name==" + value.type_name());
      if (!value.is_object()) continue;
      content_.push_back(std::make_shared<MzIOSDeviceNode>(listedNode(device, value)));
    }
  }
}

MzIOSDeviceNode downloadNodeFor(const std::string& backupFolder, const std::string& account) {
  const cloud::DownloadRecord record =
      cloud::readDownloadRecord(cloud::downloadRecordPath(backupFolder));
  MzIOSDeviceNode node;
  node.strDeviceName = record.iCloudName;
  node.strDeviceBackUpTime = record.iCloudDate;
  node.strDeviceSerial = record.iCloudUDID;
  node.strIOSVersion = record.iCloudiOSVersion;
  node.strDeviceSize = record.iCloudBackupFileSize;
  node.strDeviceType = record.iCloudType;
  node.haveDownload = true;
  node.backUpFilePath = cloud::mergeFolder(backupFolder);
  node.iCloudID = account;
  return node;
}

std::vector<std::pair<std::string, std::string>> downloadRecordsUnder(const std::string& root,
                                                                      bool firstOnly) {
  std::vector<std::pair<std::string, std::string>> found;
  const std::vector<std::string> accounts = entryNames(root);
  if (accounts.size() <= 2) return found;
  for (const std::string& account : accounts) {
    if (account.front() == '.' || account == "launchd") continue;
    const fs::path accountFolder = fs::path(root) / account;
    if (!ownFolder(accountFolder)) continue;
    for (const std::string& backup : entryNames(accountFolder)) {
      const fs::path backupFolder = accountFolder / backup;
      if (!ownFolder(backupFolder)) continue;
      std::error_code error;
      if (!fs::is_regular_file(backupFolder / "info.plist", error)) continue;
      found.emplace_back(backupFolder.string(), account);
      if (firstOnly) return found;
    }
  }
  return found;
}

void MzICloudDeviceController::addDownloadNodeByFilePath(const std::optional<std::string>& root) {
  if (!root) {
    applog::line("cloud path is nil");
    return;
  }
  for (const auto& [backupFolder, account] : downloadRecordsUnder(*root)) {
    content_.push_back(std::make_shared<MzIOSDeviceNode>(downloadNodeFor(backupFolder, account)));
  }
}

bool bICloudBackuphasDownload(const std::string& root) {
  return !downloadRecordsUnder(root, true).empty();
}
