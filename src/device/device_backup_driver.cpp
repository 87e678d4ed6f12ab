#include "device/device_backup_driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <thread>

#include "base/paths.h"
#include "device/backup_tool_output.h"

namespace amd {
namespace {

constexpr char kFailed[] = "the device backup failed: ";
constexpr std::size_t kMaxDeviceId = 64;

// What identifies one state of a file: a rewrite changes its status-change time, a
// replacement its inode.
struct FileStamp {
  bool regular = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};

  bool operator==(const FileStamp& other) const {
    return regular == other.regular && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec && changed.tv_sec == other.changed.tv_sec &&
           changed.tv_nsec == other.changed.tv_nsec;
  }
};

FileStamp stampOf(const std::string& path) {
  FileStamp stamp;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
  stamp.regular = true;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = st.st_size;
  stamp.modified = st.st_mtim;
  stamp.changed = st.st_ctim;
  return stamp;
}

bool isRealFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The files whose presence makes a backup folder a backup.
struct BackupStamps {
  FileStamp info;
  FileStamp manifest;

  static BackupStamps of(const std::string& folder) {
    if (!isRealFolder(folder)) return {};
    return {stampOf(folder + "/Info.plist"), stampOf(folder + "/Manifest.plist")};
  }
  bool present() const { return info.regular || manifest.regular; }
  // Info.plist or Manifest.plist is there and is not what `before` saw.
  bool writtenSince(const BackupStamps& before) const {
    return (info.regular && !(info == before.info)) ||
           (manifest.regular && !(manifest == before.manifest));
  }
};

DeviceBackupResult failed(DeviceBackupResult result, const std::string& reason) {
  result.outcome = DeviceBackupOutcome::Failed;
  result.message = kFailed + reason;
  return result;
}

std::string exitReason(const ToolExit& exit) {
  if (exit.exited) return "exit status " + std::to_string(exit.code);
  if (exit.signal != 0) return "killed by signal " + std::to_string(exit.signal);
  return "the tool ended in an unknown way";
}

}  // namespace

std::vector<std::string> backupToolCommand(const std::string& root, const std::string& udid,
                                           const std::string& backendName,
                                           const std::string& programFolder) {
  const char* tool = std::getenv("RETRIEVO_BACKUP_TOOL");
  if (tool != nullptr && *tool != '\0') return {tool, "--backup", "--root", root, "--target", udid};
  if (backendName == "simulated") {
    const std::string program =
        programFolder.empty() ? kSimulatedBackupTool : programFolder + "/" + kSimulatedBackupTool;
    return {program, "--backup", "--root", root, "--target", udid};
  }
  return {"idevicebackup2", "--udid", udid, "backup", root};
}

bool isUsableDeviceId(const std::string& udid) {
  if (udid.empty() || udid.size() > kMaxDeviceId) return false;
  return std::all_of(udid.begin(), udid.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
  });
}

DeviceBackupDriver::DeviceBackupDriver(DeviceBackupRequest request)
    : request_(std::move(request)), process_(request_.stopGrace) {}

DeviceBackupDriver::~DeviceBackupDriver() = default;

void DeviceBackupDriver::requestStop() { process_.stop(); }

void DeviceBackupDriver::post(std::int32_t value) {
  if (request_.progress) request_.progress(value);
}

void DeviceBackupDriver::onTick() {
  std::lock_guard lock(progressMutex_);
  if (toolProgress_) return;
  ticks_ = std::min(ticks_ + 1, kBackupTickCap);
  shown_ = std::max(shown_, ticks_);
  post(ticks_);
}

void DeviceBackupDriver::onPercent(int percent) {
  std::lock_guard lock(progressMutex_);
  toolProgress_ = true;
  const std::int32_t value = percent * kBackupTickCap / 100;
  if (value <= shown_) return;
  shown_ = value;
  post(value);
}

DeviceBackupResult DeviceBackupDriver::run() {
  DeviceBackupResult result;
  if (!isUsableDeviceId(request_.udid))
    return failed(result, "the device identifier is not usable");
  result.backupFolder = request_.root + "/" + request_.udid;
  const std::string refusal = paths::makePrivateFolder(request_.root);
  if (!refusal.empty()) return failed(result, request_.root + " " + refusal);
  if (process_.stopRequested()) {
    result.outcome = DeviceBackupOutcome::Stopped;
    result.message = "the device backup was stopped";
    return result;
  }
  if (request_.command.empty()) return failed(result, "no backup tool given");

  const BackupStamps before = BackupStamps::of(result.backupFolder);
  const std::string startError = process_.start(request_.command);
  if (!startError.empty())
    return failed(result, "could not start " + request_.command[0] + ": " + startError);

  std::shared_ptr<BackupTicker> ticker = request_.ticker;
  if (!ticker) ticker = std::make_shared<SteadyBackupTicker>(kBackupTickInterval);
  std::thread ticking;
  try {
    ticking = std::thread([this, ticker] {
      while (ticker->waitForTick()) onTick();
    });
  } catch (const std::system_error&) {
    // No thread for the ticks: the backup runs without them.
  }
  BackupToolOutput output;
  result.exit = process_.wait([&](std::string_view bytes) {
    if (const auto percent = output.add(bytes)) onPercent(*percent);
  });
  if (const auto percent = output.finish()) onPercent(*percent);
  ticker->stop();
  if (ticking.joinable()) ticking.join();

  if (process_.stopRequested()) {
    result.outcome = DeviceBackupOutcome::Stopped;
    result.message = "the device backup was stopped";
    return result;
  }
  const BackupStamps after = BackupStamps::of(result.backupFolder);
  const bool exitedWell = result.exit.exited && result.exit.code == 0;
  if (exitedWell ? after.present() : after.writtenSince(before)) {
    result.outcome = DeviceBackupOutcome::Written;
    return result;
  }
  if (exitedWell) return failed(result, "no backup was written");
  return failed(result, output.lastLine().empty() ? exitReason(result.exit) : output.lastLine());
}

}  // namespace amd
