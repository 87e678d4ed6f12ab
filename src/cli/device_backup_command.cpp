// retrievo device backup: has the backup tool write a fresh backup of a connected device,
// then scans that backup as `retrievo scan` does.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "base/paths.h"
#include "cli/attached_devices.h"
#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/stop_signals.h"
#include "cli/terminal_text.h"
#include "device/base_info.h"
#include "device/device_backup_driver.h"

namespace cli {
namespace {

struct BackupOptions {
  std::string udid;
  std::string root = amd::kDeviceBackupRoot;
  std::string passwordFile;
  std::string json;
  bool quiet = false;
};

// Shows the backup's progress on stderr. The driver's values run from 1 to its cap (ticks, or
// the tool's own percentages scaled to them); they are shown as a percentage of that range.
class BackupProgress {
 public:
  explicit BackupProgress(bool quiet) : line_(quiet, "backing up the device") {}
  void show(std::int32_t value) { line_.show(static_cast<int>(value) * 100 / amd::kBackupTickCap); }
  void finish() { line_.finish(); }

 private:
  ProgressLine line_;
};

// Runs the backup of the device at `position`, stopping the tool on Ctrl-C or kill.
amd::DeviceBackupResult backUp(DeviceManager& manager, const std::string& udid,
                               const BackupOptions& opt) {
  BackupProgress progress(opt.quiet);
  amd::DeviceBackupRequest request;
  request.root = opt.root;
  request.udid = udid;
  request.command = amd::backupToolCommand(opt.root, udid, manager.backend().name(),
                                           paths::runningProgramFolder());
  request.progress = [&progress](std::int32_t value) { progress.show(value); };
  amd::DeviceBackupDriver driver(std::move(request));
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done.load()) {
      if (StopSignals::received() != 0) {
        driver.requestStop();
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  amd::DeviceBackupResult result = driver.run();
  done.store(true);
  watcher.join();
  progress.finish();
  return result;
}

int runBackup(const BackupOptions& opt) {
  std::string folder;
  {
    StopSignals signals;
    StdoutToStderr quiet;
    AttachedDevices devices;
    int exit = kExitOk;
    const std::optional<int> position = chooseDevice(devices, opt.udid, &exit);
    if (!position) return exit;
    amd::BaseInfo info(devices.manager());
    const std::optional<std::string> udid =
        info.open(*position) == 0 ? info.uniqueDeviceId() : std::nullopt;
    if (!udid || udid->empty()) {
      std::cerr << "retrievo: the device does not tell its identifier (unlock it and trust this "
                   "computer)\n";
      return kExitFailure;
    }
    if (!opt.quiet) {
      std::cerr << "retrievo: backing up " << terminalSafe(info.deviceName().value_or("the device"))
                << " into " << terminalSafe(opt.root + "/" + *udid) << "\n";
    }
    const amd::DeviceBackupResult result = backUp(devices.manager(), *udid, opt);
    if (result.outcome == amd::DeviceBackupOutcome::Stopped || StopSignals::received() != 0) {
      return StopSignals::received() != 0 ? StopSignals::exitCode() : kExitFailure;
    }
    if (result.outcome == amd::DeviceBackupOutcome::Failed) {
      std::cerr << "retrievo: " << terminalSafe(result.message) << '\n';
      return kExitFailure;
    }
    folder = result.backupFolder;
  }
  std::cout << "backup: " << folder << "\n\n" << std::flush;
  ScanOptions scan;
  scan.backup = folder;
  scan.passwordFile = opt.passwordFile;
  scan.json = opt.json;
  scan.quiet = opt.quiet;
  return runScan(scan);
}

}  // namespace

void addBackupSubcommand(CLI::App& device) {
  auto opt = std::make_shared<BackupOptions>();
  CLI::App* cmd = device.add_subcommand(
      "backup",
      "Make a fresh backup of a connected device (the first one, or the one given by --udid) "
      "with the backup tool, then scan it and print the records found per category, as scan "
      "does. The tool is idevicebackup2 unless RETRIEVO_BACKUP_TOOL names another.");
  cmd->add_option("--udid", opt->udid, "The identifier (UniqueDeviceID) of the device");
  cmd->add_option("--root", opt->root,
                  "The folder the backup is written into, as ROOT/UDID (default /tmp/Backup; "
                  "made with owner-only access, refused when it is a symbolic link or "
                  "another user's)");
  addPasswordOption(cmd, opt->passwordFile);
  cmd->add_option("--json", opt->json,
                  "Also write the whole result as JSON to FILE, replacing it (\"-\" for stdout "
                  "only)");
  cmd->add_flag("-q,--quiet", opt->quiet, "No progress on stderr");
  cmd->callback([opt] { exitCode() = runBackup(*opt); });
}

}  // namespace cli
