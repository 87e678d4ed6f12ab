// The connect-to-disconnect bracket around every operation that talks to a device.
//
// A device operation connects (taking the process-wide connection lock), checks the pairing
// (validating it, else pairing and asking whether the device is paired now), starts a
// session, does the work, stops the session and disconnects (releasing the lock). It prints
// a line for each failed step:
//   "* Can't connect (%d)\n", "* Invalid pair\n", "* Can't start session (%d)\n",
//   "* Can't stop session (%d)\n", "* Can't disconnect (%d)\n".
// The result is the first non-zero code of connect, the pairing check (1), the session
// start and the work; stopping the session and disconnecting are only reported.
//
// The lock serialises the brackets of every service in the process; brackets must not nest
// on one thread (the lock is not recursive).
#pragma once

#include <functional>
#include <mutex>

#include "device/device_backend.h"

namespace amd {

// The one connection lock of the process.
std::mutex& connectionLock();

// Runs `work` in a bracket on `device`; -1 at once for a missing device (handle 0).
int runDeviceOperation(DeviceBackend& backend, DeviceHandle device,
                       const std::function<int()>& work);

}  // namespace amd
