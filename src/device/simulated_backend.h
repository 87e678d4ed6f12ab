// A simulated device backend: one folder per device, for tests and demonstrations.
//
// A device folder holds
//   present       the device is attached while this file exists (any content)
//   values.plist  the device values (XML or binary): a dictionary of the device's own keys
//                 ("DeviceName", "UniqueDeviceID", "ProductType", "ProductVersion",
//                 "PhoneNumber", "BuildVersion", "SerialNumber", ...) and, under the name
//                 of each further domain ("com.apple.mobile.battery",
//                 "com.apple.disk_usage"), a dictionary of that domain's keys
//   media/        what the media file service ("com.apple.afc") serves: DCIM/100APPLE/...,
//                 PhotoData/Sync/..., PhotoStreamsData/...
//   data/         the device's files by domain and path (data/<domain>/<path>), as a backup
//                 of the device holds them; data/AppDomain-<bundle id>/ is an application's
//                 container (house arrest) and makes the application installed
//
// Devices whose folder has `present` arrive when events are subscribed to; afterwards the
// folders are polled, and a removed (or re-created) `present` file makes the device go
// (or come back). Every operation on a device that is no longer present fails, so a test
// can unplug a device in the middle of an operation.
//
// File services serve their folder only: a device path never leads outside it (".."
// components, NUL bytes, over-long names and symbolic links are refused; an absolute path is
// taken within the served folder).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/device_backend.h"

namespace amd {

// Codes of the simulated backend.
inline constexpr int kSimulatedNoDevice = -2;     // not attached (any more)
inline constexpr int kSimulatedNoService = -3;    // service or application unknown
inline constexpr int kSimulatedNotFound = -4;     // path missing or refused
inline constexpr int kSimulatedIoError = -5;      // a local read or write failed
inline constexpr int kSimulatedBadArgument = -6;  // handle or connection not open

std::unique_ptr<DeviceBackend> makeSimulatedBackend(
    std::vector<std::string> deviceFolders,
    std::chrono::milliseconds pollInterval = std::chrono::milliseconds(200));

}  // namespace amd
