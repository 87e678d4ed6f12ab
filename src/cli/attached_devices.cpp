#include "cli/attached_devices.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/commands.h"
#include "cli/terminal_text.h"
#include "device/base_info.h"

namespace cli {

StdoutToStderr::StdoutToStderr() {
  std::cout.flush();
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutToStderr::~StdoutToStderr() {
  std::fflush(stdout);
  if (saved_ < 0) return;
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
}

AttachedDevices::AttachedDevices() : manager_(DeviceManager::shared()) {
  manager_.setNotify(&listener_);
  manager_.subscribe();
}

AttachedDevices::~AttachedDevices() {
  manager_.unsubscribe();
  manager_.setNotify(nullptr);
}

void AttachedDevices::reportNone() const {
  std::cerr << "retrievo: no device connected";
  if (const auto reason = manager_.unavailableReason()) std::cerr << " (" << *reason << ")";
  std::cerr << '\n';
}

std::optional<int> chooseDevice(AttachedDevices& devices, const std::string& udid, int* exit) {
  *exit = kExitFailure;
  if (devices.count() == 0) {
    devices.reportNone();
    return std::nullopt;
  }
  if (udid.empty()) return 1;
  for (int position = 1; position <= devices.count(); ++position) {
    amd::BaseInfo info(devices.manager());
    if (info.open(position) == 0 && info.uniqueDeviceId() == udid) return position;
  }
  std::cerr << "retrievo: no connected device has the identifier " << terminalSafe(udid) << '\n';
  return std::nullopt;
}

}  // namespace cli
