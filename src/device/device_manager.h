// The list of attached devices, fed by the backend's arrival and removal events.
//
// One manager per process (shared()), over the backend RETRIEVO_DEVICE selects; tests and
// tools may make managers of their own over any backend and hand them to the services.
//
// The list keeps the devices in arrival order; a device's position is its 1-based index at
// the time of asking, so the positions of later devices shift down when an earlier one is
// removed. The list is guarded by a lock of its own: services may look devices up from any
// thread while events arrive.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "device/base_device.h"
#include "device/device_backend.h"
#include "device/device_notify.h"

class DeviceManager {
 public:
  // The process-wide manager, created empty on first call and never destroyed.
  static DeviceManager& shared();

  explicit DeviceManager(std::unique_ptr<amd::DeviceBackend> backend);
  ~DeviceManager();
  DeviceManager(const DeviceManager&) = delete;
  DeviceManager& operator=(const DeviceManager&) = delete;

  // The listener told of arrivals and removals (not owned; null for none). Set it before
  // subscribe(), and keep it alive until unsubscribe().
  void setNotify(amd::DeviceNotify* listener);

  // Starts receiving device events: the devices attached now arrive at once (with the
  // simulated backend before this returns), later ones as they come. Prints
  // "* Subscibe without notify set" when no listener is set, and subscribes anyway.
  // 0 or the backend's code. Never waits for a device.
  int subscribe();
  // Stops the events; 0 when not subscribed. Not from inside a listener call.
  int unsubscribe();

  // The device at the 1-based `position`, or none.
  std::optional<amd::BaseDevice> deviceAt(int position) const;
  std::size_t deviceCount() const;

  amd::DeviceBackend& backend() { return *backend_; }
  // Why no device can be attached (no usbmuxd, ...), or none.
  std::optional<std::string> unavailableReason() const;

  // The backend's event: kDeviceConnected appends the device (again, if it is in the list
  // already) and tells the listener its new position, printing "A device added";
  // kDeviceDisconnected tells the listener the position of the first entry with the handle
  // and then removes it, or prints "* Remove an unknown device"; other codes are ignored.
  void deviceCallback(amd::DeviceHandle handle, int code);

 private:
  std::unique_ptr<amd::DeviceBackend> backend_;
  mutable std::mutex listMutex_;  // devices_
  std::list<std::unique_ptr<amd::BaseDevice>> devices_;
  std::mutex eventMutex_;  // one event at a time, and the listener
  amd::DeviceNotify* listener_ = nullptr;
  bool subscribed_ = false;
};
