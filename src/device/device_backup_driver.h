// The device backup driver: has the mobile backup tool write a fresh backup of the attached
// device into a working folder, shows a time-driven progress meanwhile, and says whether a
// backup was written.
//
// The tool takes "--backup", "--root", ROOT, "--target", UDID and writes the backup folder
// ROOT/UDID. Which program that is comes from backupToolCommand(). While it runs, a tick every
// kBackupTickInterval posts the count of ticks so far, up to kBackupTickCap (then the cap again
// on every further tick); once the tool prints its own percentages ("NN%", see
// backup_tool_output.h) they are shown instead, scaled to the same range and never going
// down, and the ticks stop.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/backup_ticker.h"
#include "device/backup_tool_process.h"

namespace amd {

inline constexpr std::chrono::milliseconds kBackupTickInterval{3500};
inline constexpr std::int32_t kBackupTickCap = 40;
inline constexpr char kDeviceBackupRoot[] = "/tmp/Backup";
// The simulated backend's backup tool, built next to the programs.
inline constexpr char kSimulatedBackupTool[] = "retrievo-sim-backup";

// The argument list of the backup tool. With RETRIEVO_BACKUP_TOOL set and not empty: that
// program, then "--backup", "--root", `root`, "--target", `udid`. Otherwise, for the backend
// "simulated": `programFolder`/retrievo-sim-backup with the same arguments; for any other
// backend the same request in idevicebackup2's words, "idevicebackup2", "--udid", `udid`,
// "backup", `root` (it writes `root`/`udid` itself, and makes a full backup into an empty
// folder, an incremental one over an earlier backup).
std::vector<std::string> backupToolCommand(const std::string& root, const std::string& udid,
                                           const std::string& backendName,
                                           const std::string& programFolder);

// A device identifier usable as a folder name: 1 to 64 of [A-Za-z0-9-].
bool isUsableDeviceId(const std::string& udid);

enum class DeviceBackupOutcome {
  Written,  // the backup folder holds a backup (see DeviceBackupResult)
  Failed,   // nothing usable was written; `message` says why
  Stopped,  // requestStop() ended the run
};

struct DeviceBackupResult {
  DeviceBackupOutcome outcome = DeviceBackupOutcome::Failed;
  std::string backupFolder;  // root + "/" + udid; empty when the identifier was refused
  ToolExit exit;             // how the tool ended (exited false, signal 0: it never ran)
  // Failed: "the device backup failed: " and the reason, the tool's last line that is not
  // blank, else "exit status N", "killed by signal N", "could not start PROG: WHY", "no backup
  // was written", "ROOT is a symbolic link" (or another refusal of the working folder), "the
  // device identifier is not usable". Stopped: "the device backup was stopped". Written:
  // empty.
  std::string message;
};

struct DeviceBackupRequest {
  std::string root = kDeviceBackupRoot;
  std::string udid;
  std::vector<std::string> command;  // from backupToolCommand()
  // Receives the progress values to post as "ScanProgressInfo" (1 to kBackupTickCap), from the
  // ticker's thread and from the thread of run(), never two at a time.
  std::function<void(std::int32_t)> progress;
  // Null: a SteadyBackupTicker of kBackupTickInterval.
  std::shared_ptr<BackupTicker> ticker;
  // How long a stopped tool has after SIGTERM before SIGKILL.
  std::chrono::milliseconds stopGrace{2000};
};

// One backup. run() blocks on the caller's (worker) thread:
//   1. refuses an identifier that isUsableDeviceId() rejects;
//   2. makes the root with paths::makePrivateFolder (a root that is a symbolic link, not a
//      folder or another user's is refused and the tool is never started);
//   3. runs the tool (backup_tool_process.h) with the ticks going, reading its output;
//   4. stops the ticks and judges what it left in root/udid.
// A backup is there when root/udid holds a regular file Info.plist or Manifest.plist. It is
// Written when the tool exited with 0 and a backup is there, or when the tool failed but one of
// those two files was written (created or changed) during this run — an earlier backup left
// in the folder does not make a failed run a success. Otherwise Failed.
class DeviceBackupDriver {
 public:
  explicit DeviceBackupDriver(DeviceBackupRequest request);
  ~DeviceBackupDriver();
  DeviceBackupDriver(const DeviceBackupDriver&) = delete;
  DeviceBackupDriver& operator=(const DeviceBackupDriver&) = delete;

  // Once per driver.
  DeviceBackupResult run();
  // From any thread, also before run(): the tool is stopped (SIGTERM, then SIGKILL after the
  // grace period) or never started, and run() returns Stopped.
  void requestStop();

 private:
  void onTick();
  void onPercent(int percent);
  void post(std::int32_t value);

  DeviceBackupRequest request_;
  BackupToolProcess process_;
  std::mutex progressMutex_;
  std::int32_t ticks_ = 0;
  std::int32_t shown_ = 0;
  bool toolProgress_ = false;  // the tool prints its own percentages: no more ticks
};

}  // namespace amd
