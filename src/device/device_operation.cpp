#include "device/device_operation.h"

#include <cstdio>

namespace amd {
namespace {

int connectDevice(DeviceBackend& backend, DeviceHandle device) {
  connectionLock().lock();
  const int code = backend.connect(device);
  if (code != 0) {
    std::printf("* Can't connect (%d)\n", code);
    connectionLock().unlock();
  }
  return code;
}

int checkPairing(DeviceBackend& backend, DeviceHandle device) {
  if (backend.validatePairing(device) == 0) return 0;
  if (backend.pair(device) == 0 && backend.isPaired(device)) return 0;
  std::printf("* Invalid pair\n");
  return 1;
}

void disconnectDevice(DeviceBackend& backend, DeviceHandle device) {
  const int code = backend.disconnect(device);
  if (code != 0) std::printf("* Can't disconnect (%d)\n", code);
  connectionLock().unlock();
}

}  // namespace

std::mutex& connectionLock() {
  static std::mutex lock;
  return lock;
}

int runDeviceOperation(DeviceBackend& backend, DeviceHandle device,
                       const std::function<int()>& work) {
  if (device == 0) return -1;
  if (const int code = connectDevice(backend, device); code != 0) {
    std::fflush(stdout);
    return code;
  }
  int result = checkPairing(backend, device);
  if (result == 0) {
    result = backend.startSession(device);
    if (result != 0) {
      std::printf("* Can't start session (%d)\n", result);
    } else {
      result = work();
      if (const int stopped = backend.stopSession(device); stopped != 0)
        std::printf("* Can't stop session (%d)\n", stopped);
    }
  }
  disconnectDevice(backend, device);
  std::fflush(stdout);
  return result;
}

}  // namespace amd
