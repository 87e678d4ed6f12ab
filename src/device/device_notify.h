// Listeners of device arrival and removal.
#pragma once

#include <cstdint>

#include "base/notification_center.h"

namespace amd {

// Told of every arrival and removal, with the device's 1-based position in the device list
// at that moment (for a removal, the position it had before it was removed). Called on the
// backend's event thread, one event at a time.
class DeviceNotify {
 public:
  virtual ~DeviceNotify() = default;
  virtual void deviceAdded(std::uint32_t position) = 0;
  virtual void deviceRemoved(std::uint32_t position) = 0;
};

// Turns arrival and removal into the application's notifications: "DeviceConnect" and
// "DeviceDisConnect", each with the position as a std::int32_t object.
class MzDeviceNotify : public DeviceNotify {
 public:
  // Posts on `center` (the default centre unless given).
  explicit MzDeviceNotify(NotificationCenter& center = NotificationCenter::defaultCenter())
      : center_(center) {}
  void deviceAdded(std::uint32_t position) override;
  void deviceRemoved(std::uint32_t position) override;

 private:
  NotificationCenter& center_;
};

}  // namespace amd
