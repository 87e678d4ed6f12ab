#include "cli/scan_session.h"

#include <unistd.h>

#include <cstdio>

#include "app/retrievo_app_delegate.h"
#include "catalogue/device_controller.h"
#include "cli/commands.h"
#include "cli/stop_signals.h"
#include "cli/terminal_text.h"

namespace {

// Prints scan progress on stderr: a bar redrawn in place on a terminal, otherwise a line
// whenever a step reports (the manifest's per-entry values are folded into one line).
class ProgressPrinter {
 public:
  explicit ProgressPrinter(bool quiet) : quiet_(quiet), tty_(isatty(STDERR_FILENO) == 1) {}

  void report(std::int32_t percent) {
    if (quiet_ || percent == last_) return;
    last_ = percent;
    if (tty_) {
      const int filled = std::clamp(percent, 0, 100) * 30 / 100;
      std::fprintf(stderr, "\rscanning [%-30s] %3d%%", std::string(filled, '#').c_str(), percent);
    } else if (percent >= 20) {
      std::fprintf(stderr, "scan: %d%%\n", percent);
    }
    std::fflush(stderr);
  }

  void finish() {
    if (quiet_) return;
    if (tty_) {
      std::fprintf(stderr, "\rscanning [%s] done\n", std::string(30, '#').c_str());
    } else {
      std::fprintf(stderr, "scan: done\n");
    }
  }

 private:
  bool quiet_;
  bool tty_;
  std::int32_t last_ = -1;
};

}  // namespace

std::string treeRootName(const std::shared_ptr<MzIOSDeviceNode>& backup) {
  if (backup == nullptr) return {};
  if (!backup->strDeviceName.empty()) return backup->strDeviceName;
  // A backup without a device name still shows its files, under the folder's name.
  std::string folder = backup->backUpFilePath;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::size_t slash = folder.rfind('/');
  return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

MzTreeController& DeferredTree::filed() {
  for (const auto& record : pending_) tree_.addTreeNode(record);
  pending_.clear();
  return tree_;
}

ScanSession::ScanSession() : results_(std::make_unique<MzResultViewController>(center_)) {
  tree_.currentDeviceName = [this] { return treeRootName(results_->currentBackup()); };
  tree_.selectionChanged = [this] { results_->updateSelectionCount(); };
  results_->setBackupBrowserTree(&deferredTree_);
}

ScanSession::~ScanSession() = default;

int ScanSession::run(const std::string& folder, bool quiet) {
  auto node = MzIOSDeviceController::readDeviceNode(folder);
  return runWith(folder, std::make_shared<MzIOSDeviceNode>(node ? *node : MzIOSDeviceNode{}), quiet,
                 false);
}

int ScanSession::runCloud(const std::string& folder, const MzIOSDeviceNode& record, bool quiet) {
  return runWith(folder, std::make_shared<MzIOSDeviceNode>(record), quiet, true);
}

int ScanSession::runWith(const std::string& folder, std::shared_ptr<MzIOSDeviceNode> backup,
                         bool quiet, bool cloud) {
  cli::StopSignals signals;
  RetrievoAppDelegate delegate(center_);
  delegate.shouldStopScan = [] { return cli::StopSignals::received() != 0; };
  backup_ = std::move(backup);
  backup_->backUpFilePath = folder;
  delegate.bIOSRecoveryMode = false;
  delegate.setCurrentNodeForScan(backup_);
  results_->setCurrentBackup(backup_);
  results_->prepareForScan();
  deferredTree_.releaseTree();

  ProgressPrinter progress(quiet);
  auto observer = center_.addObserver("ScanProgressInfo", [&progress](const std::any& o) {
    if (const auto* p = std::any_cast<std::int32_t>(&o)) progress.report(*p);
  });
  delegate.ScanThreadFinish = [this] { results_->ScanThreadFinish(); };
  if (cloud) {
    delegate.ScaniCloudBackup(folder);
  } else {
    delegate.ScanIOSBackFile(folder);
  }
  delegate.waitForScan();
  center_.removeObserver(observer);
  if (cli::StopSignals::received() != 0) {
    if (!quiet && isatty(STDERR_FILENO) == 1) std::fprintf(stderr, "\n");
    std::fprintf(stderr, "retrievo: stopped; the scan's copies were removed\n");
    return cli::StopSignals::exitCode();
  }
  progress.finish();

  problems_ = delegate.scanProblems.problems();
  for (const auto& p : problems_) {
    std::fprintf(stderr, "retrievo: %s: %s\n", terminalSafe(p.reason).c_str(),
                 terminalSafe(p.file).c_str());
  }
  if (delegate.scanProblems.environmentFailed() && delegate.databasesCopied() == 0) {
    std::fprintf(stderr, "retrievo: the scan could read no database\n");
    return cli::kExitFailure;
  }
  return cli::kExitOk;
}

const std::vector<NamedCategory>& documentCategories() {
  static const std::vector<NamedCategory> kCategories = {
      {"contacts", ResultCategory::Contact},   {"conversations", ResultCategory::Message},
      {"calls", ResultCategory::CallHistory},  {"notes", ResultCategory::Note},
      {"bookmarks", ResultCategory::BookMark}, {"calendar", ResultCategory::Calender},
      {"photos", ResultCategory::Photo},       {"appPhotos", ResultCategory::AppPhoto},
      {"social", ResultCategory::FaceTwitter},
  };
  return kCategories;
}

std::optional<ResultCategory> categoryByName(const std::string& name) {
  for (const auto& c : documentCategories()) {
    if (name == c.name) return c.category;
  }
  return std::nullopt;
}
