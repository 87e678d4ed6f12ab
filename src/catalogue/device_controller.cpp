#include "catalogue/device_controller.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "base/localization.h"
#include "base/log.h"
#include "catalogue/plist_file.h"

namespace fs = std::filesystem;

namespace {

struct ProductTypeRow {
  const char* fragment;
  const char* model;
};

// Tested in this order; the first row whose fragment occurs in the product type wins. The
// rows after the first sixteen name the later iPhones and iPod touches; within them a
// product type with a two-digit number comes before any it contains ("iPhone17,2" before
// "iPhone7,2").
constexpr std::array<ProductTypeRow, 66> kProductTypes{{
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
}};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// A file time as the platform prints a date: YYYY-MM-DD HH:MM:SS +0000.
std::string utcDateText(fs::file_time_type t) {
  auto sys = std::chrono::file_clock::to_sys(t);
  std::time_t secs = std::chrono::system_clock::to_time_t(sys);
  std::tm tm{};
  if (!gmtime_r(&secs, &tm)) return {};
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
  return buf;
}

std::string backupTime(const std::string& file) {
  std::error_code ec;
  auto t = fs::last_write_time(file, ec);
  if (ec) return {};
  std::string converted = MzIOSDeviceController::convertCurrentTimeZone2(utcDateText(t));
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
    if (haystack.find(lower(row.fragment)) != std::string::npos) {
      return localizedString(row.model);
    }
  }
  return std::nullopt;
}

std::string MzIOSDeviceController::iconForModel(const std::string& model) {
  for (const char* ipad : {"iPad1", "iPad2", "NewiPad", "iPad4", "iPad5"}) {
    if (model == ipad) return "ipad";
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
  if (node) addObject(std::make_shared<MzIOSDeviceNode>(std::move(*node)));
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
