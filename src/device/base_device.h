// One attached device as the device list holds it: the backend's handle of the device.
#pragma once

#include "device/device_backend.h"

namespace amd {

// Made from a handle and copied by handle; destroying it does not touch the device.
class BaseDevice {
 public:
  explicit BaseDevice(DeviceHandle handle) : handle_(handle) {}

  DeviceHandle handle() const { return handle_; }

 private:
  DeviceHandle handle_;
};

}  // namespace amd
