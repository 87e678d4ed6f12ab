// The base of the device services: selects a device of the device list and starts a named
// service on it.
//
// A service is created empty (no device, no connection, position -1), opened on a device
// position, used, and destroyed; destruction closes what the service opened, also after a
// failed open. Services are not shared between threads.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "device/base_device.h"
#include "device/device_backend.h"
#include "device/device_manager.h"

namespace amd {

class BaseService {
 public:
  // Works on the devices of `manager` (the process-wide one unless given).
  explicit BaseService(DeviceManager& manager = DeviceManager::shared());
  virtual ~BaseService();
  BaseService(const BaseService&) = delete;
  BaseService& operator=(const BaseService&) = delete;

  // Selects the device at the 1-based `position` of the device list: 0, or 1 with
  // "* Invalid device init" printed when there is no device there.
  virtual int open(int position);

  // Starts the service `name` on the selected device in a device operation and keeps its
  // connection (replacing one started before). 0 or the failed step's code; -1 without a
  // selected device.
  int startService(const std::string& name);

  // Sends `propertyList` as XML behind its 4-byte big-endian length on the service
  // connection: 0 when everything was sent, 1 otherwise.
  int sendMessage(plist_t propertyList);
  // Receives one length-prefixed XML property list (at most kMaxMessage bytes): null when
  // the connection ends early, the length is 0 or too large, or the bytes do not parse.
  PlistPtr receiveMessage();

  static constexpr std::uint32_t kMaxMessage = 64 * 1024 * 1024;

  int position() const { return position_; }
  bool hasDevice() const { return device_ != nullptr; }

 protected:
  DeviceManager& manager() { return manager_; }
  DeviceBackend& backend() { return manager_.backend(); }
  DeviceHandle deviceHandle() const { return device_ ? device_->handle() : 0; }
  ServiceConnection serviceConnection() const { return service_; }
  // Keeps `service` as this service's connection, closing the one held before.
  void adoptServiceConnection(ServiceConnection service);
  // Runs `work` in a device operation on the selected device (device_operation.h).
  int runOperation(const std::function<int()>& work);

 private:
  void closeService();

  DeviceManager& manager_;
  std::unique_ptr<BaseDevice> device_;
  ServiceConnection service_ = 0;
  int position_ = -1;
};

}  // namespace amd
