// retrievo-sim-backup: the mobile backup tool of the simulated device backend. It takes the
// arguments the backup driver gives any backup tool and writes a real backup folder of a
// simulated device (src/device/simulated_backend.h), printing its progress the way
// idevicebackup2 does.
//
// The device is the folder among those of RETRIEVO_DEVICE=simulated:DIR[:DIR...] whose
// values.plist has "UniqueDeviceID" UDID. The backup, DIR/UDID under the root, holds every
// file of the device's data/ tree (data/DOMAIN/PATH) under its file key in two-digit folders,
// Manifest.db, and Info.plist, Manifest.plist and Status.plist with the device's values; the
// property lists come last, so a backup cut short has none. While it writes, the device's
// `present` file is watched: when it goes, the tool says "device removed" and exits with 1,
// leaving what it has written.
//
// Exit status: 0 written, 1 anything else (bad arguments, unknown device, removal, a write
// that failed).
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backup_writer.h"
#include "catalogue/plist_file.h"
#include "device/device_backup_driver.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kUsage[] =
    "usage: retrievo-sim-backup --backup --root DIR --target UDID [--seconds N]\n"
    "\n"
    "Writes a backup of the simulated device UDID (one of the folders named by\n"
    "RETRIEVO_DEVICE=simulated:DIR[:DIR...]) into DIR/UDID, spreading the work over N seconds\n"
    "(default 3; 0 as fast as it goes). DIR must exist. Removing the device's `present` file\n"
    "while it runs ends it with \"device removed\".\n";

constexpr double kDefaultSeconds = 3;
constexpr auto kPresenceSlice = std::chrono::milliseconds(50);

int fail(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

int usageError(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "retrievo-sim-backup: %s\n%s", message.c_str(), kUsage);
  return 1;
}

struct Arguments {
  std::string root;
  std::string udid;
  double seconds = kDefaultSeconds;
};

// The arguments, or none after a message.
std::optional<Arguments> parseArguments(int argc, char** argv, int* exitCode) {
  Arguments args;
  bool backup = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      *exitCode = 0;
      return std::nullopt;
    }
    if (arg == "--backup") {
      backup = true;
      continue;
    }
    if (arg != "--root" && arg != "--target" && arg != "--seconds") {
      *exitCode = usageError("unknown argument " + arg);
      return std::nullopt;
    }
    if (i + 1 >= argc) {
      *exitCode = usageError(arg + " needs a value");
      return std::nullopt;
    }
    const std::string value = argv[++i];
    if (arg == "--root") {
      args.root = value;
    } else if (arg == "--target") {
      args.udid = value;
    } else {
      char* end = nullptr;
      args.seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(args.seconds >= 0) || args.seconds > 86400) {
        *exitCode = usageError("--seconds takes a number from 0 to 86400");
        return std::nullopt;
      }
    }
  }
  if (!backup || args.root.empty() || args.udid.empty()) {
    *exitCode = usageError("--backup, --root and --target are needed");
    return std::nullopt;
  }
  if (!amd::isUsableDeviceId(args.udid)) {
    *exitCode = usageError("the device identifier " + args.udid + " is not usable");
    return std::nullopt;
  }
  return args;
}

// The device folders of RETRIEVO_DEVICE=simulated:DIR[:DIR...].
std::vector<std::string> simulatedFolders() {
  const char* setting = std::getenv("RETRIEVO_DEVICE");
  const std::string prefix = "simulated:";
  std::vector<std::string> folders;
  if (setting == nullptr || std::string(setting).rfind(prefix, 0) != 0) return folders;
  const std::string list = std::string(setting).substr(prefix.size());
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) folders.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return folders;
}

struct Device {
  std::string folder;
  PlistDict values;
};

std::optional<Device> findDevice(const std::string& udid) {
  for (const std::string& folder : simulatedFolders()) {
    std::optional<PlistDict> values = readPlistDictionary(folder + "/values.plist");
    if (values && plistString(*values, "UniqueDeviceID") == udid)
      return Device{folder, std::move(*values)};
  }
  return std::nullopt;
}

bool isPresent(const Device& device) {
  std::error_code error;
  return fs::exists(device.folder + "/present", error);
}

fixtures::DeviceInfo infoOf(const Device& device) {
  fixtures::DeviceInfo info;
  auto take = [&](const char* key, std::string& field) {
    if (auto value = plistString(device.values, key)) field = *value;
  };
  take("DeviceName", info.deviceName);
  take("ProductType", info.productType);
  take("ProductVersion", info.productVersion);
  take("BuildVersion", info.buildVersion);
  take("SerialNumber", info.serialNumber);
  take("PhoneNumber", info.phoneNumber);
  info.lastBackupDate = static_cast<std::int64_t>(std::time(nullptr));
  info.writeStatusPlist = true;
  return info;
}

struct DeviceFile {
  std::string domain;
  std::string path;
  std::string source;
};

// The regular files of data/DOMAIN/PATH, by domain and path (links are not followed).
std::vector<DeviceFile> deviceFiles(const Device& device) {
  std::vector<DeviceFile> files;
  const fs::path data = fs::path(device.folder) / "data";
  std::error_code error;
  for (fs::recursive_directory_iterator it(data, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_regular_file(error) || it->is_symlink(error)) continue;
    const fs::path relative = it->path().lexically_relative(data);
    auto part = relative.begin();
    if (part == relative.end()) continue;
    const std::string domain = part->string();
    fs::path inside;
    for (++part; part != relative.end(); ++part) inside /= *part;
    if (inside.empty()) continue;  // a file directly under data/ belongs to no domain
    files.push_back({domain, inside.generic_string(), it->path().string()});
  }
  std::sort(files.begin(), files.end(), [](const DeviceFile& a, const DeviceFile& b) {
    return a.domain != b.domain ? a.domain < b.domain : a.path < b.path;
  });
  return files;
}

// idevicebackup2's bar of the whole backup: "[=====     ]  40% Finished".
void printProgress(int percent) {
  std::string bar(50, ' ');
  for (int i = 0; i < 50 && i < (percent + 1) / 2; ++i) bar[static_cast<std::size_t>(i)] = '=';
  std::printf("[%s] %3d%% Finished\n", bar.c_str(), percent);
  std::fflush(stdout);
}

// Waits until `until`, watching the device; false as soon as it is gone.
bool paceUntil(const Device& device, Clock::time_point until) {
  while (true) {
    if (!isPresent(device)) return false;
    const auto now = Clock::now();
    if (now >= until) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(kPresenceSlice, until - now));
  }
}

}  // namespace

int main(int argc, char** argv) {
  int exitCode = 1;
  const std::optional<Arguments> args = parseArguments(argc, argv, &exitCode);
  if (!args) return exitCode;
  std::error_code error;
  if (!fs::is_directory(args->root, error))
    return fail("ERROR: Backup directory \"" + args->root + "\" does not exist!");
  const std::optional<Device> device = findDevice(args->udid);
  if (!device) return fail("ERROR: No device found with udid " + args->udid + ".");
  if (!isPresent(*device)) return fail("ERROR: Device " + args->udid + " is not attached.");

  const std::string folder = args->root + "/" + args->udid;
  // A new backup replaces the description of an earlier one at once, so that one cut short
  // does not pass for finished.
  for (const char* name : {"Info.plist", "Manifest.plist", "Status.plist"})
    fs::remove(folder + "/" + name, error);

  std::printf("Backup directory is \"%s\"\nStarting backup...\n", args->root.c_str());
  printProgress(0);
  fixtures::BackupWriter writer(folder);
  writer.setDevice(infoOf(*device));
  writer.setManifestLayout(fixtures::ManifestLayout::Db);
  writer.setStoredLayout(fixtures::StoredLayout::TwoDigitFolders);
  for (const DeviceFile& file : deviceFiles(*device))
    writer.addFileFromDisk(file.domain, file.path, file.source);

  const auto started = Clock::now();
  const auto budget =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(args->seconds));
  int shown = 0;
  bool removed = false;
  writer.setFileWritten([&](std::size_t written, std::size_t total) {
    const int percent = static_cast<int>(written * 100 / std::max<std::size_t>(total, 1));
    if (percent > shown) {
      shown = percent;
      printProgress(percent);
    }
    const auto until = started + budget * static_cast<double>(written) /
                                     static_cast<double>(std::max<std::size_t>(total, 1));
    removed = !paceUntil(*device, std::chrono::time_point_cast<Clock::duration>(until));
    return !removed;
  });
  std::string reason;
  const bool written = writer.write(&reason);
  if (removed || !isPresent(*device)) return fail("device removed");
  if (!written) return fail("ERROR: " + reason);
  if (shown < 100) printProgress(100);
  std::printf("Backup Successful.\n");
  return 0;
}
