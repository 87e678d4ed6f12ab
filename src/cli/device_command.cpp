// retrievo device: the devices attached to this computer, their values, and the photos and
// videos of one of them copied out through its media file service.
//
// Each subcommand is one function over an AttachedDevices: the process-wide device manager,
// subscribed for the command's run. The device library prints its own status lines ("A device
// added", "* Can't connect (...)"); while a device command runs they go to stderr, so that
// stdout holds only the command's output (a table or JSON).
#include <plist/plist.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/conversions.h"
#include "base/notification_center.h"
#include "cli/attached_devices.h"
#include "cli/commands.h"
#include "cli/stop_signals.h"
#include "cli/table_printer.h"
#include "cli/terminal_text.h"
#include "device/advanced_photo_scan.h"
#include "device/base_info.h"
#include "device/device_manager.h"
#include "device/device_notify.h"
#include "device/plist_values.h"
#include "extract/item_records.h"
#include "results/file_copy.h"
#include "results/output_folder.h"
#include "results/output_names.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Some files could not be copied (they are named on stderr); the others were.
constexpr int kExitIncomplete = 4;

// The values of one device that name it.
struct DeviceIdentity {
  int position = 0;
  std::optional<std::string> name;
  std::optional<std::string> productType;
  std::optional<std::string> productVersion;
  std::optional<std::string> udid;
};

DeviceIdentity identityOf(DeviceManager& manager, int position) {
  DeviceIdentity identity;
  identity.position = position;
  amd::BaseInfo info(manager);
  if (info.open(position) != 0) return identity;
  identity.name = info.deviceName();
  identity.productType = info.productType();
  identity.productVersion = info.productVersion();
  identity.udid = info.uniqueDeviceId();
  return identity;
}

// JSON text of device values. The device's texts are not checked to be UTF-8: a byte that
// is not is shown as U+FFFD instead of ending the command.
std::string jsonOutput(const json& value, int indent = -1) {
  return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

json jsonText(const std::optional<std::string>& value) {
  return value ? json(*value) : json(nullptr);
}

// ---- device list ----

struct ListOptions {
  bool json = false;
};

int runList(const ListOptions& opt) {
  std::vector<DeviceIdentity> identities;
  bool none = false;
  {
    StdoutToStderr quiet;
    AttachedDevices devices;
    for (int position = 1; position <= devices.count(); ++position)
      identities.push_back(identityOf(devices.manager(), position));
    if (identities.empty()) {
      devices.reportNone();
      none = true;
    }
  }
  if (opt.json) {
    json out = json::array();
    for (const auto& d : identities) {
      out.push_back({{"position", d.position},
                     {"name", jsonText(d.name)},
                     {"model", jsonText(d.productType)},
                     {"version", jsonText(d.productVersion)},
                     {"udid", jsonText(d.udid)}});
    }
    std::cout << jsonOutput(out, 2) << '\n';
  } else if (!none) {
    TablePrinter table({"#", "Name", "Model", "iOS", "Identifier"});
    for (const auto& d : identities) {
      table.addRow({std::to_string(d.position), d.name.value_or(""), d.productType.value_or(""),
                    d.productVersion.value_or(""), d.udid.value_or("")});
    }
    table.print(std::cout);
  }
  return none ? kExitFailure : kExitOk;
}

// ---- device info ----

struct InfoOptions {
  std::string udid;
  bool json = false;
};

// A property list value as JSON: dictionaries, arrays, texts, numbers and booleans; any other
// kind (data, dates) as null.
json jsonOf(plist_t node) {
  if (node == nullptr) return nullptr;
  switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
      json out = json::object();
      plist_dict_iter it = nullptr;
      plist_dict_new_iter(node, &it);
      for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (key == nullptr) break;
        out[key] = jsonOf(value);
        std::free(key);
      }
      std::free(it);
      return out;
    }
    case PLIST_ARRAY: {
      json out = json::array();
      for (std::uint32_t i = 0; i < plist_array_get_size(node); ++i)
        out.push_back(jsonOf(plist_array_get_item(node, i)));
      return out;
    }
    case PLIST_STRING:
      return jsonText(amd::plistText(node));
    case PLIST_UINT: {
      std::uint64_t value = 0;
      plist_get_uint_val(node, &value);
      return value;
    }
    case PLIST_REAL: {
      double value = 0;
      plist_get_real_val(node, &value);
      return value;
    }
    case PLIST_BOOLEAN: {
      std::uint8_t value = 0;
      plist_get_bool_val(node, &value);
      return value != 0;
    }
    default:
      return nullptr;
  }
}

// The text of one value in the info listing.
std::string shownValue(const json& value) {
  if (value.is_null()) return "";
  if (value.is_string()) return value.get<std::string>();
  return jsonOutput(value);
}

json diskUsageJson(const amd::DiskUsage& usage) {
  const auto number = [](const std::optional<std::uint64_t>& v) {
    return v ? json(*v) : json(nullptr);
  };
  return {{"TotalDiskCapacity", number(usage.totalDiskCapacity)},
          {"TotalDataCapacity", number(usage.totalDataCapacity)},
          {"TotalSystemCapacity", number(usage.totalSystemCapacity)},
          {"AmountDataAvailable", number(usage.amountDataAvailable)},
          {"TotalSystemAvailable", number(usage.totalSystemAvailable)},
          {"TotalDataAvailable", number(usage.totalDataAvailable)}};
}

// Every value the device gives of itself, its battery and its disk usage; none when the
// device cannot be opened.
std::optional<json> deviceValues(DeviceManager& manager, int position) {
  amd::BaseInfo info(manager);
  if (info.open(position) != 0) return std::nullopt;
  const amd::PlistPtr battery = info.batteryInfo();
  return json{{"position", position},
              {"DeviceName", jsonText(info.deviceName())},
              {"UniqueDeviceID", jsonText(info.uniqueDeviceId())},
              {"ProductType", jsonText(info.productType())},
              {"ProductVersion", jsonText(info.productVersion())},
              {"PhoneNumber", jsonText(info.phoneNumber())},
              {"BuildVersion", jsonText(info.buildVersion())},
              {"SerialNumber", jsonText(info.serialNumber())},
              {"battery", jsonOf(battery.get())},
              {"diskUsage", diskUsageJson(info.diskUsage())}};
}

void printInfo(const json& values) {
  static const std::pair<const char*, const char*> kTexts[] = {
      {"DeviceName", "Name"},         {"UniqueDeviceID", "Identifier"}, {"ProductType", "Model"},
      {"ProductVersion", "iOS"},      {"BuildVersion", "Build"},        {"SerialNumber", "Serial"},
      {"PhoneNumber", "Phone number"}};
  TablePrinter table({"Field", "Value"});
  const auto member = [&values](const char* key) {
    return values.contains(key) ? values.at(key) : json(nullptr);
  };
  for (const auto& [key, label] : kTexts) table.addRow({label, shownValue(member(key))});
  const json battery = member("battery");
  if (battery.is_object()) {
    for (const auto& [key, value] : battery.items())
      table.addRow({"Battery " + key, shownValue(value)});
  }
  const json diskUsage = member("diskUsage");
  for (const auto& [key, value] : diskUsage.items()) {
    table.addRow({key, value.is_number_unsigned()
                           ? sizeText(value.get<std::uint64_t>()) + " (" + value.dump() + " bytes)"
                           : ""});
  }
  table.print(std::cout);
}

int runInfo(const InfoOptions& opt) {
  std::optional<json> values;
  int exit = kExitOk;
  {
    StdoutToStderr quiet;
    AttachedDevices devices;
    const std::optional<int> position = chooseDevice(devices, opt.udid, &exit);
    if (!position) return exit;
    values = deviceValues(devices.manager(), *position);
  }
  if (!values) {
    std::cerr << "retrievo: cannot read the device's values\n";
    return kExitFailure;
  }
  if (opt.json) {
    std::cout << jsonOutput(*values, 2) << '\n';
  } else {
    printInfo(*values);
  }
  return kExitOk;
}

// ---- device photos ----

struct PhotosOptions {
  std::string udid;
  std::string out;
  bool quiet = false;
};

// The scan's progress on stderr, on one line redrawn in place on a terminal.
class PhotoProgress {
 public:
  explicit PhotoProgress(bool quiet) : quiet_(quiet), tty_(isatty(STDERR_FILENO) == 1) {}

  void report(std::int32_t percent) {
    if (quiet_ || percent == last_) return;
    last_ = percent;
    if (tty_) {
      const int filled = std::clamp(percent, 0, 100) * 30 / 100;
      std::fprintf(stderr, "\rreading photos [%-30s] %3d%%", std::string(filled, '#').c_str(),
                   percent);
    } else if (percent % 25 == 0) {
      std::fprintf(stderr, "photos: %d%%\n", percent);
    }
    std::fflush(stderr);
  }

  void finish() {
    if (quiet_ || !tty_ || last_ < 0) return;
    std::fprintf(stderr, "\n");
  }

 private:
  bool quiet_;
  bool tty_;
  std::int32_t last_ = -1;
};

// A private scratch folder for the scan's copies, removed with everything in it.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "retrievo-photos-XXXXXX").string();
    if (ec) pattern = "/tmp/retrievo-photos-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

struct PhotoScan {
  AdvancedPhotoScanSummary summary;
  std::vector<std::shared_ptr<MzPhotoAndVideoNode>> records;
};

// Runs the advanced scan of the device at `position` into `folder`, keeping its records.
PhotoScan scanPhotos(DeviceManager& manager, int position, const std::string& folder, bool quiet) {
  PhotoScan scan;
  NotificationCenter center;
  PhotoProgress progress(quiet);
  center.addObserver("ScanPhotoAndVideo", [&scan](const std::any& object) {
    if (const auto* record = std::any_cast<std::shared_ptr<MzPhotoAndVideoNode>>(&object))
      scan.records.push_back(*record);
  });
  center.addObserver("ScanAdancedprogress", [&progress](const std::any& object) {
    const auto* value = std::any_cast<std::int32_t>(&object);
    progress.report(value != nullptr ? *value : 0);
  });
  scan.summary = scanDiskAidMediaThread(center, manager, position, folder,
                                        [] { return StopSignals::received() != 0; });
  progress.finish();
  return scan;
}

// Copies every record's file into `out` under its device name (made safe, and unique
// within the folder); the count of complete copies. Problems are named on stderr.
std::size_t copyRecords(const std::vector<std::shared_ptr<MzPhotoAndVideoNode>>& records,
                        const OutputDir& out, std::size_t* failed) {
  ChunkedCopier copier;
  std::size_t copied = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const MzPhotoAndVideoNode& record = *records[i];
    const CopyResult result =
        copier.copyFileFrom(record.sourceFolder, record.filePath, record.fileSizeNumber, out,
                            safeFileName(record.fileNodeName), i);
    if (result.complete()) {
      ++copied;
      continue;
    }
    ++*failed;
    std::cerr << "retrievo: " << terminalSafe(record.devicePath) << ": "
              << copyProblem(result, record.fileSizeNumber) << '\n';
  }
  return copied;
}

// Opens the output folder, made when missing; none after printing why it cannot be written.
std::optional<OutputDir> openOutputFolder(const std::string& path) {
  std::string problem;
  std::optional<OutputDir> out = OutputDir::openRoot(path, true, &problem);
  if (out && problem.empty()) {
    if (const int error = out->probeWritable(); error != 0) problem = std::strerror(error);
  }
  if (out && problem.empty()) return out;
  std::cerr << "retrievo: cannot write into the output folder " << path << ": " << problem << '\n';
  return std::nullopt;
}

int runPhotos(const PhotosOptions& opt) {
  ScratchFolder scratch;
  if (scratch.path().empty()) {
    std::cerr << "retrievo: cannot make a temporary folder for the device's files\n";
    return kExitFailure;
  }
  StopSignals signals;
  std::optional<OutputDir> out;
  PhotoScan scan;
  {
    StdoutToStderr quiet;
    AttachedDevices devices;
    int exit = kExitOk;
    const std::optional<int> position = chooseDevice(devices, opt.udid, &exit);
    if (!position) return exit;
    // Checked before the scan, which may take long.
    out = openOutputFolder(opt.out);
    if (!out) return kExitFailure;
    scan = scanPhotos(devices.manager(), *position, scratch.path() + "/Photos", opt.quiet);
  }
  if (StopSignals::received() != 0) return StopSignals::exitCode();
  if (!scan.summary.connected) {
    std::cerr << "retrievo: cannot open the device's media files (" << scan.summary.connectCode
              << ")\n";
    return kExitFailure;
  }
  if (!scan.summary.folderProblem.empty()) {
    std::cerr << "retrievo: cannot use the temporary folder " << scan.summary.localFolder << ": "
              << scan.summary.folderProblem << '\n';
    return kExitFailure;
  }

  std::size_t failed = 0;
  const std::size_t copied = copyRecords(scan.records, *out, &failed);
  std::error_code ec;
  const fs::path shown = fs::weakly_canonical(fs::absolute(opt.out, ec), ec);
  std::cout << "copied: " << copied << " files\n";
  std::cout << "folder: " << (ec ? opt.out : shown.string()) << '\n';
  if (scan.summary.copiesFailed > 0)
    std::cerr << "retrievo: " << scan.summary.copiesFailed
              << " files could not be read from the device\n";
  if (scan.summary.namesRefused > 0)
    std::cerr << "retrievo: " << scan.summary.namesRefused
              << " device names were refused as unsafe\n";
  return failed + scan.summary.copiesFailed > 0 ? kExitIncomplete : kExitOk;
}

// ---- the command ----

void addListSubcommand(CLI::App& device) {
  auto opt = std::make_shared<ListOptions>();
  CLI::App* cmd = device.add_subcommand(
      "list", "List the attached devices: position, name, model, iOS version and identifier");
  cmd->add_flag("--json", opt->json, "Print the devices as JSON");
  cmd->callback([opt] { exitCode() = runList(*opt); });
}

void addInfoSubcommand(CLI::App& device) {
  auto opt = std::make_shared<InfoOptions>();
  CLI::App* cmd = device.add_subcommand(
      "info",
      "Show a device's values, battery and disk usage (the first attached device, or "
      "the one given by --udid)");
  cmd->add_option("--udid", opt->udid, "The identifier (UniqueDeviceID) of the device");
  cmd->add_flag("--json", opt->json, "Print the values as JSON");
  cmd->callback([opt] { exitCode() = runInfo(*opt); });
}

void addPhotosSubcommand(CLI::App& device) {
  auto opt = std::make_shared<PhotosOptions>();
  CLI::App* cmd = device.add_subcommand(
      "photos",
      "Copy the photos and videos of a device's camera roll, photo-sync and photo-stream "
      "folders into a folder, read directly from the device. Existing files are never "
      "replaced; equal names get distinct names. Exit code 4 when some files could not be "
      "copied (they are named on stderr).");
  cmd->add_option("--udid", opt->udid, "The identifier (UniqueDeviceID) of the device");
  cmd->add_option("--out", opt->out, "The output folder, created when missing")->required();
  cmd->add_flag("-q,--quiet", opt->quiet, "Print no progress");
  cmd->callback([opt] { exitCode() = runPhotos(*opt); });
}

}  // namespace

void addDeviceCommand(CLI::App& app) {
  CLI::App* device =
      app.add_subcommand("device", "Work with a connected iPhone, iPad or iPod touch");
  device->require_subcommand(1);
  addListSubcommand(*device);
  addInfoSubcommand(*device);
  addBackupSubcommand(*device);
  addPhotosSubcommand(*device);
}

}  // namespace cli
