#include "device/device_notify.h"

#include "base/notification_center.h"

namespace amd {

void MzDeviceNotify::deviceAdded(std::uint32_t position) {
  center_.post("DeviceConnect", static_cast<std::int32_t>(position));
}

void MzDeviceNotify::deviceRemoved(std::uint32_t position) {
  center_.post("DeviceDisConnect", static_cast<std::int32_t>(position));
}

}  // namespace amd
