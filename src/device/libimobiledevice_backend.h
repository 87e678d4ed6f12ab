// The device backend over libimobiledevice: real devices attached through usbmuxd.
//
// Device events come from the usbmuxd event subscription (arrival and removal). The
// connection bracket maps onto lockdown: connect opens the device and a lockdown client with
// the pairing handshake (falling back to a plain client when the device is not paired yet),
// the pairing check validates the pair record or pairs, the session is the handshake's.
// Device values are lockdown values; "com.apple.afc" and other services are started through
// lockdown, application containers through house arrest, the application list through the
// installation proxy.
//
// Without usbmuxd (or with no device attached) there is no device: subscribe returns at
// once, unavailableReason() says why, and nothing waits for a device to appear.
#pragma once

#include <memory>

#include "device/device_backend.h"

namespace amd {

std::unique_ptr<DeviceBackend> makeLibimobiledeviceBackend();

}  // namespace amd
