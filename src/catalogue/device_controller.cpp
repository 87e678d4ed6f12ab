#include "catalogue/device_controller.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "base/localization.h"
#include "base/log.h"
#include "catalogue/folder_size.h"
#include "catalogue/plist_file.h"

namespace fs = std::filesystem;

namespace {

struct ProductTypeRow {
  const char* fragment;
  const char* model;
};

// Tested in this order; the first row whose fragment occurs in the product type wins. A
// fragment without a comma ("iPad1") names a whole family and counts only where it is
// followed by ',' or the end, so that "iPad13,4" is no "iPad1". A fragment with a comma also
// occurs in longer product types ("iPad13,1" in "iPad13,10"), so those come first. The rows
// after the first sixteen name the later iPhones, iPod touches and iPads; within them a
// product type with a two-digit number comes before any it contains ("iPhone17,2" before
// "iPhone7,2").
constexpr std::array<ProductTypeRow, 136> kProductTypes{{
    {"iPhone1,1", "iPhone"},
    {"iPhone1,2", "iPhone3G"},
    {"iPhone2,1", "iPhone3GS"},
    {"iPhone3,1", "iPhone 4"},
    {"iPhone3,3", "iPhone 4"},
    {"iPhone4,1", "iPhone 4S"},
    {"iPhone5", "iPhone 5"},
    {"iPod1,1", "iPodTouch"},
    {"iPod2,1", "iPodTouch2G"},
    {"iPod3,1", "IpodTouch3G"},
    {"iPod4,1", "iPodTouch4G"},
    {"iPad1", "iPad1"},
    {"iPad2", "iPad2"},
    {"iPad3", "NewiPad"},
    {"iPad4", "iPad4"},
    {"iPad5", "iPad5"},
    {"iPhone17,5", "iPhone 16e"},
    {"iPhone17,4", "iPhone 16 Plus"},
    {"iPhone17,3", "iPhone 16"},
    {"iPhone17,2", "iPhone 16 Pro Max"},
    {"iPhone17,1", "iPhone 16 Pro"},
    {"iPhone16,2", "iPhone 15 Pro Max"},
    {"iPhone16,1", "iPhone 15 Pro"},
    {"iPhone15,5", "iPhone 15 Plus"},
    {"iPhone15,4", "iPhone 15"},
    {"iPhone15,3", "iPhone 14 Pro Max"},
    {"iPhone15,2", "iPhone 14 Pro"},
    {"iPhone14,8", "iPhone 14 Plus"},
    {"iPhone14,7", "iPhone 14"},
    {"iPhone14,6", "iPhone SE (3rd generation)"},
    {"iPhone14,5", "iPhone 13"},
    {"iPhone14,4", "iPhone 13 mini"},
    {"iPhone14,3", "iPhone 13 Pro Max"},
    {"iPhone14,2", "iPhone 13 Pro"},
    {"iPhone13,4", "iPhone 12 Pro Max"},
    {"iPhone13,3", "iPhone 12 Pro"},
    {"iPhone13,2", "iPhone 12"},
    {"iPhone13,1", "iPhone 12 mini"},
    {"iPhone12,8", "iPhone SE (2nd generation)"},
    {"iPhone12,5", "iPhone 11 Pro Max"},
    {"iPhone12,3", "iPhone 11 Pro"},
    {"iPhone12,1", "iPhone 11"},
    {"iPhone11,8", "iPhone XR"},
    {"iPhone11,6", "iPhone XS Max"},
    {"iPhone11,4", "iPhone XS Max"},
    {"iPhone11,2", "iPhone XS"},
    {"iPhone10,6", "iPhone X"},
    {"iPhone10,3", "iPhone X"},
    {"iPhone10,5", "iPhone 8 Plus"},
    {"iPhone10,2", "iPhone 8 Plus"},
    {"iPhone10,4", "iPhone 8"},
    {"iPhone10,1", "iPhone 8"},
    {"iPhone9,4", "iPhone 7 Plus"},
    {"iPhone9,2", "iPhone 7 Plus"},
    {"iPhone9,3", "iPhone 7"},
    {"iPhone9,1", "iPhone 7"},
    {"iPhone8,4", "iPhone SE"},
    {"iPhone8,2", "iPhone 6s Plus"},
    {"iPhone8,1", "iPhone 6s"},
    {"iPhone7,1", "iPhone 6 Plus"},
    {"iPhone7,2", "iPhone 6"},
    {"iPhone6,2", "iPhone 5s"},
    {"iPhone6,1", "iPhone 5s"},
    {"iPod9,1", "iPod touch (7th generation)"},
    {"iPod7,1", "iPod touch (6th generation)"},
    {"iPod5,1", "iPod touch (5th generation)"},
    {"iPad16,6", "iPad Pro 13-inch (M4)"},
    {"iPad16,5", "iPad Pro 13-inch (M4)"},
    {"iPad16,4", "iPad Pro 11-inch (M4)"},
    {"iPad16,3", "iPad Pro 11-inch (M4)"},
    {"iPad16,2", "iPad mini (A17 Pro)"},
    {"iPad16,1", "iPad mini (A17 Pro)"},
    {"iPad15,8", "iPad (A16)"},
    {"iPad15,7", "iPad (A16)"},
    {"iPad15,6", "iPad Air 13-inch (M3)"},
    {"iPad15,5", "iPad Air 13-inch (M3)"},
    {"iPad15,4", "iPad Air 11-inch (M3)"},
    {"iPad15,3", "iPad Air 11-inch (M3)"},
    {"iPad14,11", "iPad Air 13-inch (M2)"},
    {"iPad14,10", "iPad Air 13-inch (M2)"},
    {"iPad14,9", "iPad Air 11-inch (M2)"},
    {"iPad14,8", "iPad Air 11-inch (M2)"},
    {"iPad14,6", "iPad Pro 12.9-inch (6th generation)"},
    {"iPad14,5", "iPad Pro 12.9-inch (6th generation)"},
    {"iPad14,4", "iPad Pro 11-inch (4th generation)"},
    {"iPad14,3", "iPad Pro 11-inch (4th generation)"},
    {"iPad14,2", "iPad mini (6th generation)"},
    {"iPad14,1", "iPad mini (6th generation)"},
    {"iPad13,19", "iPad (10th generation)"},
    {"iPad13,18", "iPad (10th generation)"},
    {"iPad13,17", "iPad Air (5th generation)"},
    {"iPad13,16", "iPad Air (5th generation)"},
    {"iPad13,11", "iPad Pro 12.9-inch (5th generation)"},
    {"iPad13,10", "iPad Pro 12.9-inch (5th generation)"},
    {"iPad13,9", "iPad Pro 12.9-inch (5th generation)"},
    {"iPad13,8", "iPad Pro 12.9-inch (5th generation)"},
    {"iPad13,7", "iPad Pro 11-inch (3rd generation)"},
    {"iPad13,6", "iPad Pro 11-inch (3rd generation)"},
    {"iPad13,5", "iPad Pro 11-inch (3rd generation)"},
    {"iPad13,4", "iPad Pro 11-inch (3rd generation)"},
    {"iPad13,2", "iPad Air (4th generation)"},
    {"iPad13,1", "iPad Air (4th generation)"},
    {"iPad12,2", "iPad (9th generation)"},
    {"iPad12,1", "iPad (9th generation)"},
    {"iPad11,7", "iPad (8th generation)"},
    {"iPad11,6", "iPad (8th generation)"},
    {"iPad11,4", "iPad Air (3rd generation)"},
    {"iPad11,3", "iPad Air (3rd generation)"},
    {"iPad11,2", "iPad mini (5th generation)"},
    {"iPad11,1", "iPad mini (5th generation)"},
    {"iPad8,12", "iPad Pro 12.9-inch (4th generation)"},
    {"iPad8,11", "iPad Pro 12.9-inch (4th generation)"},
    {"iPad8,10", "iPad Pro 11-inch (2nd generation)"},
    {"iPad8,9", "iPad Pro 11-inch (2nd generation)"},
    {"iPad8,8", "iPad Pro 12.9-inch (3rd generation)"},
    {"iPad8,7", "iPad Pro 12.9-inch (3rd generation)"},
    {"iPad8,6", "iPad Pro 12.9-inch (3rd generation)"},
    {"iPad8,5", "iPad Pro 12.9-inch (3rd generation)"},
    {"iPad8,4", "iPad Pro 11-inch"},
    {"iPad8,3", "iPad Pro 11-inch"},
    {"iPad8,2", "iPad Pro 11-inch"},
    {"iPad8,1", "iPad Pro 11-inch"},
    {"iPad7,12", "iPad (7th generation)"},
    {"iPad7,11", "iPad (7th generation)"},
    {"iPad7,6", "iPad (6th generation)"},
    {"iPad7,5", "iPad (6th generation)"},
    {"iPad7,4", "iPad Pro (10.5-inch)"},
    {"iPad7,3", "iPad Pro (10.5-inch)"},
    {"iPad7,2", "iPad Pro 12.9-inch (2nd generation)"},
    {"iPad7,1", "iPad Pro 12.9-inch (2nd generation)"},
    {"iPad6,12", "iPad (5th generation)"},
    {"iPad6,11", "iPad (5th generation)"},
    {"iPad6,8", "iPad Pro (12.9-inch)"},
    {"iPad6,7", "iPad Pro (12.9-inch)"},
    {"iPad6,4", "iPad Pro (9.7-inch)"},
    {"iPad6,3", "iPad Pro (9.7-inch)"},
}};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Whether the row's fragment occurs in the product type (both lower case); a fragment without
// a comma only where ',' or the end follows it.
bool rowMatches(const std::string& productType, const std::string& fragment) {
  const bool wholeFamily = fragment.find(',') == std::string::npos;
  for (std::size_t at = productType.find(fragment); at != std::string::npos;
       at = productType.find(fragment, at + 1)) {
    const std::size_t after = at + fragment.size();
    if (!wholeFamily || after == productType.size() || productType[after] == ',') return true;
  }
  return false;
}

// A time as the platform prints a date: YYYY-MM-DD HH:MM:SS +0000.
std::string utcDateText(std::time_t secs) {
  std::tm tm{};
  if (!gmtime_r(&secs, &tm)) return {};
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

// A time as the backup list shows it: local date and minutes.
std::string listTimeText(std::time_t secs) {
  std::string converted = MzIOSDeviceController::convertCurrentTimeZone2(utcDateText(secs));
  // Keep date and time when the conversion left a zone behind.
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= converted.size()) {
    std::size_t blank = converted.find(' ', start);
    if (blank == std::string::npos) blank = converted.size();
    pieces.push_back(converted.substr(start, blank - start));
    start = blank + 1;
  }
  if (!converted.empty() && pieces.size() >= 3) return pieces[0] + " " + pieces[1];
  return converted;
}

std::string backupTime(const std::string& file) {
  std::error_code ec;
  auto t = fs::last_write_time(file, ec);
  if (ec) return {};
  auto sys = std::chrono::file_clock::to_sys(t);
  return listTimeText(std::chrono::system_clock::to_time_t(sys));
}

// A property-list date as whole seconds since 1970, or none when it is not a date of the
// years 1 to 9999 (which the list's text form cannot hold).
std::optional<std::int64_t> wholeSeconds(const std::optional<PlistDate>& date) {
  constexpr double kFirst = -62135596800.0;  // 0001-01-01 00:00:00 UTC
  constexpr double kLast = 253402300799.0;   // 9999-12-31 23:59:59 UTC
  if (!date || !std::isfinite(date->secondsSince1970)) return std::nullopt;
  const double secs = std::floor(date->secondsSince1970);
  if (secs < kFirst || secs > kLast) return std::nullopt;
  return static_cast<std::int64_t>(secs);
}

std::size_t countEntries(const std::string& folder, std::size_t stopAt) {
  std::error_code ec;
  std::size_t n = 0;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (++n >= stopAt) break;
  }
  return n;
}

}  // namespace

std::optional<std::string> MzIOSDeviceController::GetDevcieType(
    const std::optional<std::string>& productType) {
  if (!productType || productType->empty()) return localizedString("iPhone");
  const std::string haystack = lower(*productType);
  for (const auto& row : kProductTypes) {
    if (rowMatches(haystack, lower(row.fragment))) return localizedString(row.model);
  }
  return std::nullopt;
}

std::string MzIOSDeviceController::iconForModel(const std::string& model) {
  // The models of the table's iPad rows, from the written "iPad1" to the current ones.
  for (const auto& row : kProductTypes) {
    if (model == row.model && std::string_view(row.fragment).substr(0, 4) == "iPad") return "ipad";
  }
  return "iphone";
}

std::string MzIOSDeviceController::convertCurrentTimeZone2(const std::string& dateText) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int consumed = 0;
  if (std::sscanf(dateText.c_str(), "%4d-%2d-%2d %2d:%2d%n", &year, &month, &day, &hour, &minute,
                  &consumed) != 5) {
    return dateText;
  }
  const char* rest = dateText.c_str() + consumed;
  int more = 0;
  if (std::sscanf(rest, ":%2d%n", &second, &more) == 1) rest += more;
  long offsetSeconds = 0;
  char sign = 0;
  int zh = 0, zm = 0;
  if (std::sscanf(rest, " %c%2d%2d", &sign, &zh, &zm) == 3 && (sign == '+' || sign == '-')) {
    offsetSeconds = (sign == '-' ? -1 : 1) * (zh * 3600L + zm * 60L);
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return dateText;
  }
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  std::time_t utc = timegm(&tm) - offsetSeconds;
  std::tm local{};
  if (!localtime_r(&utc, &local)) return dateText;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min);
  return buf;
}

void MzIOSDeviceController::getSystemVersionMajor(int* major, int* minor, int* bugFix) {
  int v[3] = {10, 0, 0};
  utsname name{};
  if (uname(&name) != 0) {
    char line[80];
    std::snprintf(line, sizeof line, "Unable to obtain system version: %ld",
                  static_cast<long>(errno));
    applog::line(line);
  } else {
    int parsed[3] = {0, 0, 0};
    int n = std::sscanf(name.release, "%d.%d.%d", &parsed[0], &parsed[1], &parsed[2]);
    if (n >= 1) {
      v[0] = parsed[0];
      v[1] = n >= 2 ? parsed[1] : 0;
      v[2] = n >= 3 ? parsed[2] : 0;
    } else {
      applog::line("Unable to obtain system version: -1");
    }
  }
  if (major) *major = v[0];
  if (minor) *minor = v[1];
  if (bugFix) *bugFix = v[2];
}

std::optional<MzIOSDeviceNode> MzIOSDeviceController::readDeviceNode(const std::string& folder,
                                                                     std::string* refusal) {
  if (refusal) refusal->clear();
  std::error_code ec;
  if (!fs::exists(folder, ec)) {
    applog::line("Filepath is not exist");
    return std::nullopt;
  }
  if (!fs::is_directory(folder, ec) || countEntries(folder, 2) < 2) return std::nullopt;

  const std::string infoPath = folder + "/Info.plist";
  const std::string manifestPath = folder + "/Manifest.plist";
  PlistProblem infoProblem;
  auto info = readPlistDictionary(infoPath, &infoProblem);
  MzIOSDeviceNode node;
  if (info) {
    node.strDeviceName = plistString(*info, "Device Name").value_or("");
    node.strDeviceSerial = plistString(*info, "Serial Number").value_or("");
    node.strDeviceType = GetDevcieType(plistString(*info, "Product Type")).value_or("");
    node.strIOSVersion = plistString(*info, "Product Version").value_or("");
    node.itunesVersion = plistString(*info, "iTunes Version").value_or("");
    auto size = fs::file_size(infoPath, ec);
    if (!ec) node.strDeviceSize = std::to_string(size);
    node.strDeviceBackUpTime = backupTime(infoPath);
    node.lastBackupDate = wholeSeconds(plistDate(*info, "Last Backup Date"));
  } else {
    PlistProblem manifestProblem;
    auto manifest = readPlistDictionary(manifestPath, &manifestProblem);
    const PlistDict* lockdown = manifest ? plistDict(*manifest, "Lockdown") : nullptr;
    if (!lockdown) {
      // Say why when a list is there but could not be read; a folder with neither is
      // simply not a backup.
      if (refusal && infoProblem.refusal != PlistRefusal::Missing) {
        *refusal = "Info.plist " + describePlistProblem(infoProblem);
      } else if (refusal && manifestProblem.refusal != PlistRefusal::Missing &&
                 manifestProblem.refusal != PlistRefusal::None) {
        *refusal = "Manifest.plist " + describePlistProblem(manifestProblem);
      }
      return std::nullopt;
    }
    node.strDeviceName = plistString(*lockdown, "DeviceName").value_or("");
    node.strDeviceSerial = plistString(*lockdown, "SerialNumber").value_or("");
    node.strDeviceType = GetDevcieType(plistString(*lockdown, "ProductType")).value_or("");
    node.strIOSVersion = plistString(*lockdown, "ProductVersion").value_or("");
    node.itunesVersion = plistString(*lockdown, "BuildVersion").value_or("");
    node.strDeviceBackUpTime = backupTime(manifestPath);
  }
  node.deviceImage = iconForModel(node.strDeviceType);
  node.backUpFilePath = folder;
  return node;
}

void MzIOSDeviceController::addDeviceNodeByPath(const std::string& folderPath,
                                                std::string* refusal) {
  auto node = readDeviceNode(folderPath, refusal);
  if (!node) return;
  node->storedBytes = regularFilesSize(folderPath);
  addObject(std::make_shared<MzIOSDeviceNode>(std::move(*node)));
}

std::string MzIOSDeviceController::listedBackupTime(const MzIOSDeviceNode& node) {
  if (!node.lastBackupDate) return node.strDeviceBackUpTime;
  return listTimeText(static_cast<std::time_t>(*node.lastBackupDate));
}

std::string MzIOSDeviceController::listedSize(const MzIOSDeviceNode& node) {
  return node.storedBytes ? std::to_string(*node.storedBytes) : node.strDeviceSize;
}

bool IOSVersionIOS6(const std::optional<std::string>& version, bool& bIOS7DeviceNode) {
  if (!version || version->empty()) return false;
  std::string first = version->substr(0, version->find('.'));
  if (first == "6") return true;
  if (first == "7") {
    bIOS7DeviceNode = true;
    return true;
  }
  return false;
}
