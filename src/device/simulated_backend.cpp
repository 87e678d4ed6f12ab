#include "device/simulated_backend.h"

#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>

#include "device/device_path.h"

namespace amd {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAfcService = "com.apple.afc";
constexpr const char* kInstallationService = "com.apple.mobile.installation_proxy";
constexpr std::uintmax_t kMaxValuesFile = 16 * 1024 * 1024;

bool isPresent(const fs::path& folder) {
  std::error_code error;
  return fs::is_regular_file(folder / "present", error);
}

// A bundle identifier usable as part of a folder name.
bool isPlainBundleId(const std::string& bundleId) {
  if (bundleId.empty() || bundleId.size() > kMaxDeviceName || bundleId == "." || bundleId == "..")
    return false;
  return bundleId.find('/') == std::string::npos && bundleId.find('\0') == std::string::npos;
}

PlistPtr readPlistFile(const fs::path& path) {
  std::error_code error;
  const auto size = fs::file_size(path, error);
  if (error || size == 0 || size > kMaxValuesFile) return nullptr;
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return nullptr;
  plist_t root = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
  return PlistPtr(root);
}

// The file service of one simulated device, over one folder.
class SimulatedFileConnection final : public FileConnection {
 public:
  SimulatedFileConnection(fs::path root, fs::path deviceFolder)
      : root_(std::move(root)), deviceFolder_(std::move(deviceFolder)) {}

  ~SimulatedFileConnection() override {
    for (auto& [handle, file] : files_) std::fclose(file);
  }

  int readDirectory(const std::string& path, std::vector<std::string>* names) override {
    fs::path local;
    if (const int code = resolve(path, &local); code != 0) return code;
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(local, error))) return kSimulatedNotFound;
    std::vector<std::string> found{".", ".."};
    for (fs::directory_iterator it(local, error), end; !error && it != end; it.increment(error))
      found.push_back(it->path().filename().string());
    if (error) return kSimulatedIoError;
    *names = std::move(found);
    return 0;
  }

  int fileInfo(const std::string& path, std::map<std::string, std::string>* info) override {
    fs::path local;
    if (const int code = resolve(path, &local); code != 0) return code;
    struct stat st {};
    if (::lstat(local.c_str(), &st) != 0) return kSimulatedNotFound;
    const bool folder = S_ISDIR(st.st_mode);
    *info = {{"st_size", std::to_string(st.st_size)},
             {"st_blocks", std::to_string(st.st_blocks)},
             {"st_nlink", std::to_string(st.st_nlink)},
             {"st_ifmt", folder ? "S_IFDIR" : "S_IFREG"},
             {"st_mtime", std::to_string(static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL +
                                         st.st_mtim.tv_nsec)}};
    return 0;
  }

  int openFile(const std::string& path, FileMode mode, FileHandle* file) override {
    fs::path local;
    if (const int code = resolve(path, &local); code != 0) return code;
    std::error_code error;
    if (mode == FileMode::Read && !fs::is_regular_file(fs::symlink_status(local, error)))
      return kSimulatedNotFound;
    if (mode == FileMode::Write && fs::is_directory(fs::symlink_status(local, error)))
      return kSimulatedNotFound;
    std::FILE* opened = std::fopen(local.c_str(), mode == FileMode::Read ? "rb" : "wb");
    if (opened == nullptr) return kSimulatedNotFound;
    *file = nextHandle_++;
    files_[*file] = opened;
    return 0;
  }

  int readFile(FileHandle file, std::uint8_t* buffer, std::size_t size,
               std::size_t* bytesRead) override {
    std::FILE* stream = nullptr;
    if (const int code = streamOf(file, &stream); code != 0) return code;
    const std::size_t got = std::fread(buffer, 1, size, stream);
    if (got < size && std::ferror(stream)) return kSimulatedIoError;
    *bytesRead = got;
    return 0;
  }

  int writeFile(FileHandle file, const std::uint8_t* data, std::size_t size) override {
    std::FILE* stream = nullptr;
    if (const int code = streamOf(file, &stream); code != 0) return code;
    return std::fwrite(data, 1, size, stream) == size ? 0 : kSimulatedIoError;
  }

  int closeFile(FileHandle file) override {
    const auto it = files_.find(file);
    if (it == files_.end()) return kSimulatedBadArgument;
    const bool closed = std::fclose(it->second) == 0;
    files_.erase(it);
    return closed ? 0 : kSimulatedIoError;
  }

  int removePath(const std::string& path) override {
    fs::path local;
    if (const int code = resolveBelowRoot(path, &local); code != 0) return code;
    std::error_code error;
    return fs::remove(local, error) && !error ? 0 : kSimulatedNotFound;
  }

  int makeDirectory(const std::string& path) override {
    fs::path local;
    if (const int code = resolveBelowRoot(path, &local); code != 0) return code;
    std::error_code error;
    fs::create_directories(local, error);
    return error ? kSimulatedIoError : 0;
  }

  int renamePath(const std::string& from, const std::string& to) override {
    fs::path localFrom, localTo;
    if (const int code = resolveBelowRoot(from, &localFrom); code != 0) return code;
    if (const int code = resolveBelowRoot(to, &localTo); code != 0) return code;
    std::error_code error;
    fs::rename(localFrom, localTo, error);
    return error ? kSimulatedNotFound : 0;
  }

 private:
  int resolve(const std::string& path, fs::path* local) const {
    if (!isPresent(deviceFolder_)) return kSimulatedNoDevice;
    auto resolved = resolveDevicePath(root_, path);
    if (!resolved) return kSimulatedNotFound;
    *local = std::move(*resolved);
    return 0;
  }
  // As resolve(), but the served folder itself is refused (it cannot be removed or renamed).
  int resolveBelowRoot(const std::string& path, fs::path* local) const {
    if (const int code = resolve(path, local); code != 0) return code;
    return *local == root_ ? kSimulatedNotFound : 0;
  }
  int streamOf(FileHandle file, std::FILE** stream) const {
    if (!isPresent(deviceFolder_)) return kSimulatedNoDevice;
    const auto it = files_.find(file);
    if (it == files_.end()) return kSimulatedBadArgument;
    *stream = it->second;
    return 0;
  }

  fs::path root_;
  fs::path deviceFolder_;
  std::map<FileHandle, std::FILE*> files_;
  FileHandle nextHandle_ = 1;
};

class SimulatedBackend final : public DeviceBackend {
 public:
  SimulatedBackend(std::vector<std::string> folders, std::chrono::milliseconds pollInterval)
      : pollInterval_(pollInterval) {
    for (auto& folder : folders) devices_.push_back({fs::path(std::move(folder)), false});
  }

  ~SimulatedBackend() override { unsubscribe(); }

  std::string name() const override { return "simulated"; }

  int subscribe(EventCallback callback) override {
    unsubscribe();
    std::lock_guard events(eventMutex_);
    callback_ = std::move(callback);
    {
      std::lock_guard lock(mutex_);
      for (auto& device : devices_) device.attached = false;
      stopping_ = false;
    }
    deliverChanges();
    poller_ = std::thread([this] { pollLoop(); });
    return 0;
  }

  // Must not be called from inside the event callback.
  int unsubscribe() override {
    if (!poller_.joinable()) return 0;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    poller_.join();
    std::lock_guard events(eventMutex_);
    callback_ = nullptr;
    return 0;
  }

  std::optional<std::string> unavailableReason() const override {
    if (devices_.empty()) return "no simulated device folder is set";
    return std::nullopt;
  }

  int connect(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    if (!attachedLocked(device)) return kSimulatedNoDevice;
    connected_ = device;
    return 0;
  }
  int validatePairing(DeviceHandle device) override { return checked(device); }
  int pair(DeviceHandle device) override { return checked(device); }
  bool isPaired(DeviceHandle device) override { return checked(device) == 0; }
  int startSession(DeviceHandle device) override { return checked(device); }
  int stopSession(DeviceHandle device) override { return checked(device); }
  int disconnect(DeviceHandle device) override {
    std::lock_guard lock(mutex_);
    if (connected_ != device) return kSimulatedBadArgument;
    connected_ = 0;
    return 0;
  }

  PlistPtr copyValue(DeviceHandle device, const std::optional<std::string>& domain,
                     const std::optional<std::string>& key) override {
    if (checked(device) != 0) return nullptr;
    PlistPtr values = readPlistFile(folderOf(device) / "values.plist");
    if (!values || plist_get_node_type(values.get()) != PLIST_DICT) return nullptr;
    plist_t scope = values.get();
    if (domain) {
      scope = plist_dict_get_item(scope, domain->c_str());
      if (scope == nullptr || plist_get_node_type(scope) != PLIST_DICT) return nullptr;
    }
    if (!key) return PlistPtr(plist_copy(scope));
    plist_t value = plist_dict_get_item(scope, key->c_str());
    return value == nullptr ? nullptr : PlistPtr(plist_copy(value));
  }

  int startService(DeviceHandle device, const std::string& serviceName,
                   ServiceConnection* service) override {
    if (const int code = checked(device); code != 0) return code;
    const fs::path folder = folderOf(device);
    if (serviceName == kAfcService) return addService(folder, folder / "media", service);
    if (serviceName == kInstallationService) return addService(folder, fs::path(), service);
    return kSimulatedNoService;
  }

  int startHouseArrest(DeviceHandle device, const std::string& bundleId,
                       ServiceConnection* service) override {
    if (const int code = checked(device); code != 0) return code;
    if (!isPlainBundleId(bundleId)) return kSimulatedNoService;
    const fs::path folder = folderOf(device);
    const fs::path container = folder / "data" / ("AppDomain-" + bundleId);
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(container, error))) return kSimulatedNoService;
    return addService(folder, container, service);
  }

  int lookupApplications(DeviceHandle device, plist_t options, PlistPtr* applications) override {
    if (const int code = checked(device); code != 0) return code;
    (void)options;  // every simulated application has the same few attributes
    PlistPtr result(plist_new_dict());
    std::error_code error;
    const std::string prefix = "AppDomain-";
    for (fs::directory_iterator it(folderOf(device) / "data", error), end; !error && it != end;
         it.increment(error)) {
      const std::string entry = it->path().filename().string();
      if (entry.rfind(prefix, 0) != 0 || !it->is_directory(error)) continue;
      const std::string bundleId = entry.substr(prefix.size());
      plist_t app = plist_new_dict();
      plist_dict_set_item(app, "CFBundleIdentifier", plist_new_string(bundleId.c_str()));
      plist_dict_set_item(app, "ApplicationType", plist_new_string("User"));
      const std::string shortName = bundleId.substr(bundleId.rfind('.') + 1);
      plist_dict_set_item(app, "CFBundleName", plist_new_string(shortName.c_str()));
      plist_dict_set_item(result.get(), bundleId.c_str(), app);
    }
    *applications = std::move(result);
    return 0;
  }

  std::unique_ptr<FileConnection> openFileConnection(ServiceConnection service) override {
    std::lock_guard lock(mutex_);
    const auto it = services_.find(service);
    if (it == services_.end() || it->second.served.empty()) return nullptr;
    if (!isPresent(it->second.deviceFolder)) return nullptr;
    return std::make_unique<SimulatedFileConnection>(it->second.served, it->second.deviceFolder);
  }

  // No simulated service speaks a message protocol.
  int send(ServiceConnection, const std::uint8_t*, std::size_t, std::size_t*) override {
    return kSimulatedNoService;
  }
  int receive(ServiceConnection, std::uint8_t*, std::size_t, std::size_t*) override {
    return kSimulatedNoService;
  }

  void closeService(ServiceConnection service) override {
    std::lock_guard lock(mutex_);
    services_.erase(service);
  }

 private:
  struct Device {
    fs::path folder;
    bool attached;
  };
  struct Service {
    fs::path deviceFolder;
    fs::path served;  // empty for services without files
  };

  // Handles are the 1-based index of the device's folder.
  bool attachedLocked(DeviceHandle device) const {
    return device >= 1 && device <= devices_.size() && devices_[device - 1].attached &&
           isPresent(devices_[device - 1].folder);
  }
  fs::path folderOf(DeviceHandle device) const { return devices_[device - 1].folder; }

  // 0 when `device` is the connected device and still attached.
  int checked(DeviceHandle device) {
    std::lock_guard lock(mutex_);
    if (connected_ != device) return kSimulatedBadArgument;
    return attachedLocked(device) ? 0 : kSimulatedNoDevice;
  }

  int addService(const fs::path& deviceFolder, fs::path served, ServiceConnection* service) {
    std::lock_guard lock(mutex_);
    const ServiceConnection id = nextService_++;
    services_[id] = {deviceFolder, std::move(served)};
    *service = id;
    return 0;
  }

  // Delivers the changes since the last poll, with eventMutex_ held (so events never overlap
  // and none arrives after unsubscribe()) and the state lock released (so the callback may
  // use the backend).
  void deliverChanges() {
    std::vector<std::pair<DeviceHandle, int>> changes;
    {
      std::lock_guard lock(mutex_);
      for (std::size_t i = 0; i < devices_.size(); ++i) {
        const bool present = isPresent(devices_[i].folder);
        if (present == devices_[i].attached) continue;
        devices_[i].attached = present;
        changes.emplace_back(i + 1, present ? kDeviceConnected : kDeviceDisconnected);
      }
    }
    for (const auto& [device, code] : changes)
      if (callback_) callback_(device, code);
  }

  void pollLoop() {
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, pollInterval_, [this] { return stopping_; });
        if (stopping_) return;
      }
      std::lock_guard events(eventMutex_);
      deliverChanges();
    }
  }

  std::chrono::milliseconds pollInterval_;
  std::mutex mutex_;       // the state below
  std::mutex eventMutex_;  // event delivery and callback_
  std::condition_variable wake_;
  std::vector<Device> devices_;
  EventCallback callback_;
  std::thread poller_;
  bool stopping_ = false;
  DeviceHandle connected_ = 0;
  std::map<ServiceConnection, Service> services_;
  ServiceConnection nextService_ = 1;
};

}  // namespace

std::unique_ptr<DeviceBackend> makeSimulatedBackend(std::vector<std::string> deviceFolders,
                                                    std::chrono::milliseconds pollInterval) {
  return std::make_unique<SimulatedBackend>(std::move(deviceFolders), pollInterval);
}

}  // namespace amd
