// Simulated devices for the device service tests: sample device folders in a scratch folder
// and a device manager of their own over the simulated backend (polled every 10 ms).
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/device_manager.h"
#include "device/simulated_backend.h"
#include "fixture_support.h"
#include "sample_device.h"

namespace devicetest {

// Polls `done` until it holds or five seconds pass.
inline bool waitFor(const std::function<bool()>& done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class SimulatedDevices {
 public:
  // One sample device per name (without data/ unless `withData`), folders "device1", ...
  explicit SimulatedDevices(const std::vector<std::string>& names, bool withData = false) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      const std::string folder = scratch_.path() + "/device" + std::to_string(i + 1);
      fixtures::SampleDeviceOptions options;
      options.withData = withData;
      options.values["DeviceName"] = names[i];
      options.values["UniqueDeviceID"] = fixtures::sha1Hex(names[i]);
      ok_ = ok_ && fixtures::buildSampleDevice(folder, options, &error_);
      folders_.push_back(folder);
    }
  }

  // A manager over the folders (and any `extra` folders), not yet subscribed.
  std::unique_ptr<DeviceManager> manager(std::vector<std::string> extra = {}) const {
    std::vector<std::string> folders = folders_;
    folders.insert(folders.end(), extra.begin(), extra.end());
    return std::make_unique<DeviceManager>(
        amd::makeSimulatedBackend(std::move(folders), std::chrono::milliseconds(10)));
  }

  // Unplugs device `index` (0-based) by removing its `present` file.
  void unplug(std::size_t index) const {
    std::error_code ignored;
    std::filesystem::remove(folders_[index] + "/present", ignored);
  }

  const std::string& folder(std::size_t index) const { return folders_[index]; }
  const std::string& scratch() const { return scratch_.path(); }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

 private:
  fixtures::ScratchFolder scratch_{"retrievo-device"};
  std::vector<std::string> folders_;
  bool ok_ = true;
  std::string error_;
};

}  // namespace devicetest
