#include "device/device_manager.h"

#include <cstdio>
#include <iterator>

DeviceManager& DeviceManager::shared() {
  static DeviceManager* const manager = new DeviceManager(amd::makeDeviceBackend());
  return *manager;
}

DeviceManager::DeviceManager(std::unique_ptr<amd::DeviceBackend> backend)
    : backend_(std::move(backend)) {}

DeviceManager::~DeviceManager() { unsubscribe(); }

void DeviceManager::setNotify(amd::DeviceNotify* listener) {
  std::lock_guard events(eventMutex_);
  listener_ = listener;
}

int DeviceManager::subscribe() {
  {
    std::lock_guard events(eventMutex_);
    if (listener_ == nullptr) std::printf("* Subscibe without notify set\n");
  }
  const int code = backend_->subscribe(
      [this](amd::DeviceHandle handle, int event) { deviceCallback(handle, event); });
  subscribed_ = code == 0;
  return code;
}

int DeviceManager::unsubscribe() {
  if (!subscribed_) return 0;
  subscribed_ = false;
  return backend_->unsubscribe();
}

std::optional<amd::BaseDevice> DeviceManager::deviceAt(int position) const {
  std::lock_guard lock(listMutex_);
  if (position < 1 || static_cast<std::size_t>(position) > devices_.size()) return std::nullopt;
  auto it = devices_.begin();
  std::advance(it, position - 1);
  return **it;
}

std::size_t DeviceManager::deviceCount() const {
  std::lock_guard lock(listMutex_);
  return devices_.size();
}

std::optional<std::string> DeviceManager::unavailableReason() const {
  return backend_->unavailableReason();
}

void DeviceManager::deviceCallback(amd::DeviceHandle handle, int code) {
  std::lock_guard events(eventMutex_);
  if (code == amd::kDeviceConnected) {
    std::uint32_t position = 0;
    {
      std::lock_guard lock(listMutex_);
      devices_.push_back(std::make_unique<amd::BaseDevice>(handle));
      position = static_cast<std::uint32_t>(devices_.size());
    }
    if (listener_ != nullptr) listener_->deviceAdded(position);
    std::printf("A device added\n");
    std::fflush(stdout);
    return;
  }
  if (code != amd::kDeviceDisconnected) return;
  std::uint32_t position = 0;
  {
    std::lock_guard lock(listMutex_);
    std::uint32_t counted = 0;
    for (const auto& device : devices_) {
      ++counted;
      if (device->handle() == handle) {
        position = counted;
        break;
      }
    }
  }
  if (position == 0) {
    std::printf("* Remove an unknown device\n");
    std::fflush(stdout);
    return;
  }
  // The listener hears of the removal while the device is still in the list.
  if (listener_ != nullptr) listener_->deviceRemoved(position);
  std::lock_guard lock(listMutex_);
  auto it = devices_.begin();
  std::advance(it, position - 1);
  devices_.erase(it);
}
