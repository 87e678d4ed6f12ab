#include "device/libimobiledevice_backend.h"

#include <libimobiledevice/afc.h>
#include <libimobiledevice/house_arrest.h>
#include <libimobiledevice/installation_proxy.h>
#include <libimobiledevice/libimobiledevice.h>
#include <libimobiledevice/lockdown.h>
#include <libimobiledevice/service.h>

#include <limits>
#include <mutex>
#include <set>
#include <utility>

namespace amd {
namespace {

constexpr const char* kLabel = "retrievo";
constexpr const char* kHouseArrestService = "com.apple.mobile.house_arrest";
constexpr const char* kInstallationService = "com.apple.mobile.installation_proxy";
constexpr unsigned kReceiveTimeoutMs = 30000;
// Codes of this backend beside the library's own (which are all negative or small positive).
constexpr int kUnknownDevice = -1000;
constexpr int kNotConnected = -1001;
constexpr int kNoService = -1002;

// Lockdown refusals that mean "not paired with this computer (yet)".
bool isPairingError(lockdownd_error_t error) {
  switch (error) {
    case LOCKDOWN_E_INVALID_HOST_ID:
    case LOCKDOWN_E_MISSING_HOST_ID:
    case LOCKDOWN_E_PAIRING_FAILED:
    case LOCKDOWN_E_INVALID_PAIR_RECORD:
    case LOCKDOWN_E_MISSING_PAIR_RECORD:
    case LOCKDOWN_E_PASSWORD_PROTECTED:
    case LOCKDOWN_E_USER_DENIED_PAIRING:
    case LOCKDOWN_E_PAIRING_DIALOG_RESPONSE_PENDING:
      return true;
    default:
      return false;
  }
}

// A started service: a device connection of its own (so that it outlives the bracket that
// started it), the service's descriptor and, for a container, the house arrest client.
struct StartedService {
  idevice_t device = nullptr;
  lockdownd_service_descriptor_t descriptor = nullptr;
  house_arrest_client_t houseArrest = nullptr;
  service_client_t raw = nullptr;

  StartedService() = default;
  StartedService(const StartedService&) = delete;
  StartedService& operator=(const StartedService&) = delete;
  ~StartedService() {
    if (raw != nullptr) service_client_free(raw);
    if (houseArrest != nullptr) house_arrest_client_free(houseArrest);
    if (descriptor != nullptr) lockdownd_service_descriptor_free(descriptor);
    if (device != nullptr) idevice_free(device);
  }
};

class AfcConnection final : public FileConnection {
 public:
  AfcConnection(std::shared_ptr<StartedService> service, afc_client_t client)
      : service_(std::move(service)), client_(client) {}
  ~AfcConnection() override { afc_client_free(client_); }

  int readDirectory(const std::string& path, std::vector<std::string>* names) override {
    char** list = nullptr;
    const afc_error_t error = afc_read_directory(client_, path.c_str(), &list);
    if (error != AFC_E_SUCCESS) return error;
    names->clear();
    for (char** entry = list; entry != nullptr && *entry != nullptr; ++entry)
      names->emplace_back(*entry);
    afc_dictionary_free(list);
    return 0;
  }

  int fileInfo(const std::string& path, std::map<std::string, std::string>* info) override {
    char** pairs = nullptr;
    const afc_error_t error = afc_get_file_info(client_, path.c_str(), &pairs);
    if (error != AFC_E_SUCCESS) return error;
    info->clear();
    for (char** entry = pairs; entry != nullptr && entry[0] != nullptr && entry[1] != nullptr;
         entry += 2)
      (*info)[entry[0]] = entry[1];
    afc_dictionary_free(pairs);
    return 0;
  }

  int openFile(const std::string& path, FileMode mode, FileHandle* file) override {
    const afc_file_mode_t afcMode = mode == FileMode::Read ? AFC_FOPEN_RDONLY : AFC_FOPEN_WRONLY;
    return afc_file_open(client_, path.c_str(), afcMode, file);
  }

  int readFile(FileHandle file, std::uint8_t* buffer, std::size_t size,
               std::size_t* bytesRead) override {
    std::uint32_t got = 0;
    const auto length =
        static_cast<std::uint32_t>(std::min<std::size_t>(size, std::numeric_limits<int>::max()));
    const afc_error_t error =
        afc_file_read(client_, file, reinterpret_cast<char*>(buffer), length, &got);
    if (error != AFC_E_SUCCESS) return error;
    *bytesRead = got;
    return 0;
  }

  int writeFile(FileHandle file, const std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      std::uint32_t written = 0;
      const auto length =
          static_cast<std::uint32_t>(std::min<std::size_t>(size, std::numeric_limits<int>::max()));
      const afc_error_t error =
          afc_file_write(client_, file, reinterpret_cast<const char*>(data), length, &written);
      if (error != AFC_E_SUCCESS) return error;
      if (written == 0) return AFC_E_IO_ERROR;
      data += written;
      size -= written;
    }
    return 0;
  }

  int closeFile(FileHandle file) override { return afc_file_close(client_, file); }
  int removePath(const std::string& path) override {
    return afc_remove_path(client_, path.c_str());
  }
  int makeDirectory(const std::string& path) override {
    return afc_make_directory(client_, path.c_str());
  }
  int renamePath(const std::string& from, const std::string& to) override {
    return afc_rename_path(client_, from.c_str(), to.c_str());
  }

 private:
  std::shared_ptr<StartedService> service_;
  afc_client_t client_;
};

class LibimobiledeviceBackend final : public DeviceBackend {
 public:
  ~LibimobiledeviceBackend() override {
    unsubscribe();
    std::lock_guard lock(mutex_);
    closeConnectionLocked();
  }

  std::string name() const override { return "libimobiledevice"; }

  int subscribe(EventCallback callback) override {
    unsubscribe();
    {
      std::lock_guard events(eventMutex_);
      callback_ = std::move(callback);
      attached_.clear();
    }
    // The devices attached now, asked once: without usbmuxd this fails at once.
    idevice_info_t* list = nullptr;
    int count = 0;
    std::vector<std::string> present;
    if (idevice_get_device_list_extended(&list, &count) == IDEVICE_E_SUCCESS) {
      for (int i = 0; i < count; ++i)
        if (list[i]->conn_type == CONNECTION_USBMUXD) present.emplace_back(list[i]->udid);
      idevice_device_list_extended_free(list);
      setReason(present.empty() ? std::optional<std::string>("no device is attached")
                                : std::nullopt);
    } else {
      setReason("usbmuxd is not running, so no device can be attached");
    }
    for (const auto& udid : present) deliver(udid, kDeviceConnected);
    // Later arrivals and removals; the subscription keeps retrying usbmuxd in the background.
    if (idevice_event_subscribe(&LibimobiledeviceBackend::onEvent, this) != IDEVICE_E_SUCCESS)
      return kNoService;
    subscribed_ = true;
    return 0;
  }

  int unsubscribe() override {
    if (!subscribed_) return 0;
    idevice_event_unsubscribe();
    subscribed_ = false;
    std::lock_guard events(eventMutex_);
    callback_ = nullptr;
    return 0;
  }

  std::optional<std::string> unavailableReason() const override {
    std::lock_guard lock(mutex_);
    return reason_;
  }

  int connect(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    closeConnectionLocked();
    const auto udid = udidLocked(device);
    if (!udid) return kUnknownDevice;
    idevice_t opened = nullptr;
    const idevice_error_t error =
        idevice_new_with_options(&opened, udid->c_str(), IDEVICE_LOOKUP_USBMUX);
    if (error != IDEVICE_E_SUCCESS) return error;
    connection_ = {device, opened, nullptr, false};
    const lockdownd_error_t handshake = handshakeLocked();
    if (handshake == LOCKDOWN_E_SUCCESS) return 0;
    if (isPairingError(handshake)) {
      const lockdownd_error_t plain = lockdownd_client_new(opened, &connection_.client, kLabel);
      if (plain == LOCKDOWN_E_SUCCESS) return 0;
      closeConnectionLocked();
      return plain;
    }
    closeConnectionLocked();
    return handshake;
  }

  int validatePairing(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    if (!connectedLocked(device)) return kNotConnected;
    if (connection_.session) return 0;
    const lockdownd_error_t error = lockdownd_validate_pair(connection_.client, nullptr);
    if (error != LOCKDOWN_E_SUCCESS) return error;
    return handshakeLocked();
  }

  int pair(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    if (!connectedLocked(device) || connection_.client == nullptr) return kNotConnected;
    return lockdownd_pair(connection_.client, nullptr);
  }

  bool isPaired(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    if (!connectedLocked(device)) return false;
    return connection_.session || handshakeLocked() == LOCKDOWN_E_SUCCESS;
  }

  int startSession(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    if (!connectedLocked(device)) return kNotConnected;
    return connection_.session ? 0 : LOCKDOWN_E_NO_RUNNING_SESSION;
  }

  // The handshake's session ends when the lockdown client is freed at disconnect.
  int stopSession(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    return connectedLocked(device) ? 0 : kNotConnected;
  }

  int disconnect(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    if (!connectedLocked(device)) return kNotConnected;
    closeConnectionLocked();
    return 0;
  }

  PlistPtr copyValue(DeviceHandle device, const std::optional<std::string>& domain,
                     const std::optional<std::string>& key) override {
    std::lock_guard lock(mutex_);
    if (!sessionLocked(device)) return nullptr;
    plist_t value = nullptr;
    if (lockdownd_get_value(connection_.client, domain ? domain->c_str() : nullptr,
                            key ? key->c_str() : nullptr, &value) != LOCKDOWN_E_SUCCESS) {
      if (value != nullptr) plist_free(value);
      return nullptr;
    }
    return PlistPtr(value);
  }

  int startService(DeviceHandle device, const std::string& serviceName,
                   ServiceConnection* service) override {
    std::lock_guard lock(mutex_);
    auto started = std::make_shared<StartedService>();
    if (const int code = startLocked(device, serviceName, started.get()); code != 0) return code;
    *service = addLocked(std::move(started));
    return 0;
  }

  int startHouseArrest(DeviceHandle device, const std::string& bundleId,
                       ServiceConnection* service) override {
    std::lock_guard lock(mutex_);
    auto started = std::make_shared<StartedService>();
    if (const int code = startLocked(device, kHouseArrestService, started.get()); code != 0)
      return code;
    house_arrest_error_t error =
        house_arrest_client_new(started->device, started->descriptor, &started->houseArrest);
    if (error != HOUSE_ARREST_E_SUCCESS) return error;
    error = house_arrest_send_command(started->houseArrest, "VendContainer", bundleId.c_str());
    if (error != HOUSE_ARREST_E_SUCCESS) return error;
    plist_t result = nullptr;
    error = house_arrest_get_result(started->houseArrest, &result);
    const PlistPtr owned(result);
    if (error != HOUSE_ARREST_E_SUCCESS) return error;
    if (result == nullptr || plist_dict_get_item(result, "Error") != nullptr) return kNoService;
    *service = addLocked(std::move(started));
    return 0;
  }

  int lookupApplications(DeviceHandle device, plist_t options, PlistPtr* applications) override {
    std::lock_guard lock(mutex_);
    if (!sessionLocked(device)) return kNotConnected;
    lockdownd_service_descriptor_t descriptor = nullptr;
    const lockdownd_error_t started =
        lockdownd_start_service(connection_.client, kInstallationService, &descriptor);
    if (started != LOCKDOWN_E_SUCCESS) return started;
    instproxy_client_t client = nullptr;
    instproxy_error_t error = instproxy_client_new(connection_.device, descriptor, &client);
    lockdownd_service_descriptor_free(descriptor);
    if (error != INSTPROXY_E_SUCCESS) return error;
    plist_t result = nullptr;
    error = instproxy_lookup(client, nullptr, options, &result);
    instproxy_client_free(client);
    PlistPtr owned(result);
    if (error != INSTPROXY_E_SUCCESS) return error;
    if (result == nullptr || plist_get_node_type(result) != PLIST_DICT) return kNoService;
    *applications = std::move(owned);
    return 0;
  }

  std::unique_ptr<FileConnection> openFileConnection(ServiceConnection service) override {
    const auto started = find(service);
    if (!started) return nullptr;
    afc_client_t client = nullptr;
    const afc_error_t error =
        started->houseArrest != nullptr
            ? afc_client_new_from_house_arrest_client(started->houseArrest, &client)
            : afc_client_new(started->device, started->descriptor, &client);
    if (error != AFC_E_SUCCESS || client == nullptr) return nullptr;
    return std::make_unique<AfcConnection>(started, client);
  }

  int send(ServiceConnection service, const std::uint8_t* data, std::size_t size,
           std::size_t* sent) override {
    const auto started = find(service);
    if (!started || size > std::numeric_limits<std::uint32_t>::max()) return kNoService;
    if (const int code = rawClient(*started); code != 0) return code;
    std::uint32_t count = 0;
    const service_error_t error = service_send(started->raw, reinterpret_cast<const char*>(data),
                                               static_cast<std::uint32_t>(size), &count);
    *sent = count;
    return error;
  }

  int receive(ServiceConnection service, std::uint8_t* buffer, std::size_t size,
              std::size_t* received) override {
    const auto started = find(service);
    if (!started || size > std::numeric_limits<std::uint32_t>::max()) return kNoService;
    if (const int code = rawClient(*started); code != 0) return code;
    std::uint32_t count = 0;
    const service_error_t error =
        service_receive_with_timeout(started->raw, reinterpret_cast<char*>(buffer),
                                     static_cast<std::uint32_t>(size), &count, kReceiveTimeoutMs);
    *received = count;
    return error;
  }

  void closeService(ServiceConnection service) override {
    std::lock_guard lock(mutex_);
    services_.erase(service);
  }

 private:
  struct Connection {
    DeviceHandle handle = 0;
    idevice_t device = nullptr;
    lockdownd_client_t client = nullptr;
    bool session = false;  // the client completed the pairing handshake and holds a session
  };

  static void onEvent(const idevice_event_t* event, void* self) {
    if (event == nullptr || event->udid == nullptr || event->conn_type != CONNECTION_USBMUXD)
      return;
    auto* backend = static_cast<LibimobiledeviceBackend*>(self);
    if (event->event == IDEVICE_DEVICE_ADD) backend->deliver(event->udid, kDeviceConnected);
    if (event->event == IDEVICE_DEVICE_REMOVE) backend->deliver(event->udid, kDeviceDisconnected);
  }

  // Passes one change on, once: an arrival of an attached device or a removal of a device
  // that is not attached is dropped (usbmuxd repeats the attached devices on subscribing).
  void deliver(const std::string& udid, int code) {
    std::lock_guard events(eventMutex_);
    const bool known = attached_.count(udid) != 0;
    if ((code == kDeviceConnected) == known) return;
    DeviceHandle handle = 0;
    {
      std::lock_guard lock(mutex_);
      auto [it, added] = handles_.emplace(udid, handles_.size() + 1);
      handle = it->second;
      if (code == kDeviceConnected) reason_.reset();
    }
    if (code == kDeviceConnected) {
      attached_.insert(udid);
    } else {
      attached_.erase(udid);
    }
    if (callback_) callback_(handle, code);
  }

  void setReason(std::optional<std::string> reason) {
    std::lock_guard lock(mutex_);
    reason_ = std::move(reason);
  }

  std::optional<std::string> udidLocked(DeviceHandle device) const {
    for (const auto& [udid, handle] : handles_)
      if (handle == device) return udid;
    return std::nullopt;
  }

  bool connectedLocked(DeviceHandle device) const {
    return device != 0 && connection_.handle == device && connection_.device != nullptr;
  }
  bool sessionLocked(DeviceHandle device) const {
    return connectedLocked(device) && connection_.session && connection_.client != nullptr;
  }

  // Replaces the connection's lockdown client with one that completed the pairing handshake.
  lockdownd_error_t handshakeLocked() {
    if (connection_.client != nullptr) lockdownd_client_free(connection_.client);
    connection_.client = nullptr;
    const lockdownd_error_t error =
        lockdownd_client_new_with_handshake(connection_.device, &connection_.client, kLabel);
    connection_.session = error == LOCKDOWN_E_SUCCESS;
    if (!connection_.session && connection_.client != nullptr) {
      lockdownd_client_free(connection_.client);
      connection_.client = nullptr;
    }
    return error;
  }

  void closeConnectionLocked() {
    if (connection_.client != nullptr) lockdownd_client_free(connection_.client);
    if (connection_.device != nullptr) idevice_free(connection_.device);
    connection_ = {};
  }

  // Starts `serviceName` in the session and gives `started` a device connection of its own.
  int startLocked(DeviceHandle device, const char* serviceName, StartedService* started) {
    if (!sessionLocked(device)) return kNotConnected;
    const auto udid = udidLocked(device);
    if (!udid) return kUnknownDevice;
    const lockdownd_error_t error =
        lockdownd_start_service(connection_.client, serviceName, &started->descriptor);
    if (error != LOCKDOWN_E_SUCCESS) return error;
    const idevice_error_t opened =
        idevice_new_with_options(&started->device, udid->c_str(), IDEVICE_LOOKUP_USBMUX);
    return opened == IDEVICE_E_SUCCESS ? 0 : opened;
  }
  int startLocked(DeviceHandle device, const std::string& serviceName, StartedService* started) {
    return startLocked(device, serviceName.c_str(), started);
  }

  ServiceConnection addLocked(std::shared_ptr<StartedService> started) {
    const ServiceConnection id = nextService_++;
    services_[id] = std::move(started);
    return id;
  }

  std::shared_ptr<StartedService> find(ServiceConnection service) const {
    std::lock_guard lock(mutex_);
    const auto it = services_.find(service);
    return it == services_.end() ? nullptr : it->second;
  }

  int rawClient(StartedService& started) {
    std::lock_guard lock(mutex_);
    if (started.raw != nullptr) return 0;
    const service_error_t error =
        service_client_new(started.device, started.descriptor, &started.raw);
    return error == SERVICE_E_SUCCESS ? 0 : error;
  }

  mutable std::mutex mutex_;  // everything below but the event state
  std::map<std::string, DeviceHandle> handles_;
  std::optional<std::string> reason_;
  Connection connection_;
  std::map<ServiceConnection, std::shared_ptr<StartedService>> services_;
  ServiceConnection nextService_ = 1;

  std::mutex eventMutex_;  // event delivery: callback_ and attached_
  EventCallback callback_;
  std::set<std::string> attached_;
  bool subscribed_ = false;
};

}  // namespace

std::unique_ptr<DeviceBackend> makeLibimobiledeviceBackend() {
  return std::make_unique<LibimobiledeviceBackend>();
}

}  // namespace amd
