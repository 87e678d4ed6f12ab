// The platform side of the device services: what a mobile-device library must offer so that
// the amd:: classes can work on top of it.
//
// Two implementations exist: libimobiledevice (real devices through usbmuxd, the default)
// and a simulated device made of folders (tests and demonstrations); makeDeviceBackend()
// chooses by the environment variable RETRIEVO_DEVICE.
//
// Codes: 0 is success, anything else a failure whose meaning belongs to the backend (the
// libimobiledevice backend passes the library's negative error codes through). Nothing is
// thrown.
//
// Threads: events are delivered on a thread of the backend's own, one at a time. The
// connect-to-disconnect bracket is serialised by the caller (see device_operation.h); the
// file connections may be used from any one thread at a time each.
#pragma once

#include <plist/plist.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace amd {

// An opaque reference to one attached device; 0 is none. The same device keeps its handle
// while it stays attached.
using DeviceHandle = std::uint64_t;
// A started service on a device; 0 is none. Valid until closeService().
using ServiceConnection = std::int32_t;

// The message codes of device events.
inline constexpr int kDeviceConnected = 1;
inline constexpr int kDeviceDisconnected = 2;

// Owns one property list (libplist) and frees it.
struct PlistDeleter {
  void operator()(plist_t node) const {
    if (node != nullptr) plist_free(node);
  }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

// The open modes of device files, with the numbers the file service uses.
enum class FileMode : int { Read = 1, Write = 2 };

// One open connection to a device's file service (AFC): the media file system, or an
// application's container. Device paths are absolute within what the service serves
// ("/DCIM/100APPLE"). Every call returns a code; outputs are set only on success.
class FileConnection {
 public:
  using FileHandle = std::uint64_t;

  virtual ~FileConnection() = default;

  // The names of a folder's entries in the device's order, "." and ".." included when the
  // device lists them.
  virtual int readDirectory(const std::string& path, std::vector<std::string>* names) = 0;
  // The file's attributes as key and value texts ("st_size", "st_ifmt", ...).
  virtual int fileInfo(const std::string& path, std::map<std::string, std::string>* info) = 0;
  virtual int openFile(const std::string& path, FileMode mode, FileHandle* file) = 0;
  // Reads up to `size` bytes; 0 bytes read means the end of the file.
  virtual int readFile(FileHandle file, std::uint8_t* buffer, std::size_t size,
                       std::size_t* bytesRead) = 0;
  // Writes all of `size` bytes or fails.
  virtual int writeFile(FileHandle file, const std::uint8_t* data, std::size_t size) = 0;
  virtual int closeFile(FileHandle file) = 0;
  virtual int removePath(const std::string& path) = 0;
  virtual int makeDirectory(const std::string& path) = 0;
  virtual int renamePath(const std::string& from, const std::string& to) = 0;
};

class DeviceBackend {
 public:
  // Receives (device, kDeviceConnected or kDeviceDisconnected).
  using EventCallback = std::function<void(DeviceHandle, int code)>;

  virtual ~DeviceBackend() = default;

  // "libimobiledevice" or "simulated".
  virtual std::string name() const = 0;

  // Starts delivering device events to `callback`: first an arrival for every device already
  // attached (before subscribe returns), then arrivals and removals as they happen. A second
  // subscribe replaces the first. Never blocks waiting for a device.
  virtual int subscribe(EventCallback callback) = 0;
  // Stops the events; none is delivered after it returns.
  virtual int unsubscribe() = 0;
  // Why no device can be attached at all (no usbmuxd, no simulated folder), for the user;
  // none when the backend is ready for devices.
  virtual std::optional<std::string> unavailableReason() const = 0;

  // The connection bracket: connect, then the pairing check (validatePairing, else pair
  // and isPaired), startSession, the work, stopSession, disconnect.
  virtual int connect(DeviceHandle device) = 0;
  virtual int validatePairing(DeviceHandle device) = 0;
  virtual int pair(DeviceHandle device) = 0;
  virtual bool isPaired(DeviceHandle device) = 0;
  virtual int startSession(DeviceHandle device) = 0;
  virtual int stopSession(DeviceHandle device) = 0;
  virtual int disconnect(DeviceHandle device) = 0;

  // Work inside a session.
  // The value of `key` in `domain` (a missing domain is the device's own, a missing key the
  // whole domain); null when the device has none.
  virtual PlistPtr copyValue(DeviceHandle device, const std::optional<std::string>& domain,
                             const std::optional<std::string>& key) = 0;
  // Starts the named service ("com.apple.afc", ...).
  virtual int startService(DeviceHandle device, const std::string& serviceName,
                           ServiceConnection* service) = 0;
  // Starts the container service for the application `bundleId`; the connection then opens
  // a file connection on the application's container.
  virtual int startHouseArrest(DeviceHandle device, const std::string& bundleId,
                               ServiceConnection* service) = 0;
  // The installed applications as a dictionary from bundle identifier to attribute
  // dictionary, limited to the attributes `options` asks for ("ReturnAttributes").
  virtual int lookupApplications(DeviceHandle device, plist_t options, PlistPtr* applications) = 0;

  // Outside the bracket, on a started service.
  // A file connection on a file service (or a container service); null when it cannot be
  // opened. It stays usable after the bracket that started the service has ended.
  virtual std::unique_ptr<FileConnection> openFileConnection(ServiceConnection service) = 0;
  // Raw bytes on a started service.
  virtual int send(ServiceConnection service, const std::uint8_t* data, std::size_t size,
                   std::size_t* sent) = 0;
  virtual int receive(ServiceConnection service, std::uint8_t* buffer, std::size_t size,
                      std::size_t* received) = 0;
  virtual void closeService(ServiceConnection service) = 0;
};

// The backend named by RETRIEVO_DEVICE: "simulated:DIR[:DIR...]" (one folder per device, see
// simulated_backend.h), else libimobiledevice.
std::unique_ptr<DeviceBackend> makeDeviceBackend();
// The same for an explicit setting (`setting` as RETRIEVO_DEVICE would hold it).
std::unique_ptr<DeviceBackend> makeDeviceBackend(const std::optional<std::string>& setting);

}  // namespace amd
