#include "device/base_info.h"

#include "device/plist_values.h"

namespace amd {

PlistPtr BaseInfo::copyValue(const std::optional<std::string>& domain,
                             const std::optional<std::string>& key) {
  PlistPtr value;
  runOperation([&] {
    value = backend().copyValue(deviceHandle(), domain, key);
    return 0;
  });
  return value;
}

std::optional<std::string> BaseInfo::textValue(const char* key) {
  const PlistPtr value = copyValue(std::nullopt, std::string(key));
  return plistText(value.get());
}

std::optional<std::string> BaseInfo::deviceName() { return textValue("DeviceName"); }
std::optional<std::string> BaseInfo::uniqueDeviceId() { return textValue("UniqueDeviceID"); }
std::optional<std::string> BaseInfo::productType() { return textValue("ProductType"); }
std::optional<std::string> BaseInfo::productVersion() { return textValue("ProductVersion"); }
std::optional<std::string> BaseInfo::phoneNumber() { return textValue("PhoneNumber"); }
std::optional<std::string> BaseInfo::buildVersion() { return textValue("BuildVersion"); }
std::optional<std::string> BaseInfo::serialNumber() { return textValue("SerialNumber"); }

PlistPtr BaseInfo::batteryInfo() {
  return copyValue(std::string("com.apple.mobile.battery"), std::nullopt);
}

DiskUsage BaseInfo::diskUsage() {
  const PlistPtr domain = copyValue(std::string("com.apple.disk_usage"), std::nullopt);
  const auto field = [&](const char* key) { return plistUnsigned(plistMember(domain.get(), key)); };
  return {field("TotalDiskCapacity"),   field("TotalDataCapacity"),    field("TotalSystemCapacity"),
          field("AmountDataAvailable"), field("TotalSystemAvailable"), field("TotalDataAvailable")};
}

}  // namespace amd
