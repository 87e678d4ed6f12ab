#include "device/device_backend.h"

#include <cstdlib>

#include "device/libimobiledevice_backend.h"
#include "device/simulated_backend.h"

namespace amd {

std::unique_ptr<DeviceBackend> makeDeviceBackend(const std::optional<std::string>& setting) {
  const std::string prefix = "simulated:";
  if (!setting || setting->rfind(prefix, 0) != 0) return makeLibimobiledeviceBackend();
  std::vector<std::string> folders;
  std::size_t start = prefix.size();
  while (start <= setting->size()) {
    std::size_t end = setting->find(':', start);
    if (end == std::string::npos) end = setting->size();
    if (end > start) folders.push_back(setting->substr(start, end - start));
    start = end + 1;
  }
  return makeSimulatedBackend(std::move(folders));
}

std::unique_ptr<DeviceBackend> makeDeviceBackend() {
  const char* setting = std::getenv("RETRIEVO_DEVICE");
  return makeDeviceBackend(setting == nullptr ? std::nullopt : std::optional<std::string>(setting));
}

}  // namespace amd
