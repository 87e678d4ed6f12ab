// What the device commands share: the attached devices for the command's run, the choice of
// one by its identifier, and stdout kept for the command's own output.
#pragma once

#include <optional>
#include <string>

#include "device/device_manager.h"
#include "device/device_notify.h"

namespace CLI {
class App;
}

namespace cli {

// Moves what the process prints on stdout to stderr while it lives (the device library's
// status lines), and puts stdout back afterwards.
class StdoutToStderr {
 public:
  StdoutToStderr();
  ~StdoutToStderr();
  StdoutToStderr(const StdoutToStderr&) = delete;
  StdoutToStderr& operator=(const StdoutToStderr&) = delete;

 private:
  int saved_ = -1;
};

// A listener that only has to be there: the commands read the device list themselves.
class SilentNotify final : public amd::DeviceNotify {
 public:
  void deviceAdded(std::uint32_t) override {}
  void deviceRemoved(std::uint32_t) override {}
};

// The shared device manager, subscribed while this lives. The devices attached when it is
// made are in the list by then (the backends deliver them before subscribe returns).
class AttachedDevices {
 public:
  AttachedDevices();
  ~AttachedDevices();
  AttachedDevices(const AttachedDevices&) = delete;
  AttachedDevices& operator=(const AttachedDevices&) = delete;

  DeviceManager& manager() { return manager_; }
  int count() const { return static_cast<int>(manager_.deviceCount()); }

  // Says on stderr that no device is attached, with the backend's reason when it has one.
  void reportNone() const;

 private:
  SilentNotify listener_;
  DeviceManager& manager_;
};

// The device to work on: the first one, or the one whose UniqueDeviceID is `udid`. None
// after printing why (and setting `*exit`).
std::optional<int> chooseDevice(AttachedDevices& devices, const std::string& udid, int* exit);

// Registers `device backup` on the `device` command.
void addBackupSubcommand(CLI::App& device);

}  // namespace cli
