// The device's own values (name, identifiers, versions) and its battery and disk-usage
// domains. Each read is one device operation on the device selected by open(); without one,
// or when the device has no such value, the result is none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/base_service.h"

namespace amd {

// The "com.apple.disk_usage" domain in bytes; each field none when the device does not give
// it as a number (all none when the domain cannot be read).
struct DiskUsage {
  std::optional<std::uint64_t> totalDiskCapacity;     // "TotalDiskCapacity"
  std::optional<std::uint64_t> totalDataCapacity;     // "TotalDataCapacity"
  std::optional<std::uint64_t> totalSystemCapacity;   // "TotalSystemCapacity"
  std::optional<std::uint64_t> amountDataAvailable;   // "AmountDataAvailable"
  std::optional<std::uint64_t> totalSystemAvailable;  // "TotalSystemAvailable"
  std::optional<std::uint64_t> totalDataAvailable;    // "TotalDataAvailable"
};

class BaseInfo : public BaseService {
 public:
  using BaseService::BaseService;

  // Text values of the device's own domain; none when missing or not a text.
  std::optional<std::string> deviceName();      // "DeviceName"
  std::optional<std::string> uniqueDeviceId();  // "UniqueDeviceID"
  std::optional<std::string> productType();     // "ProductType"
  std::optional<std::string> productVersion();  // "ProductVersion"
  std::optional<std::string> phoneNumber();     // "PhoneNumber"
  std::optional<std::string> buildVersion();    // "BuildVersion"
  std::optional<std::string> serialNumber();    // "SerialNumber"

  // The whole "com.apple.mobile.battery" domain ("BatteryCurrentCapacity",
  // "BatteryIsCharging", ...), or null.
  PlistPtr batteryInfo();
  DiskUsage diskUsage();

  // Any value: `key` of `domain` (none: the device's own domain; no key: the whole domain).
  PlistPtr copyValue(const std::optional<std::string>& domain,
                     const std::optional<std::string>& key);

 private:
  std::optional<std::string> textValue(const char* key);
};

}  // namespace amd
