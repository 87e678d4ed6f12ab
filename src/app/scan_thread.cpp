// The scan: one thread runs every step on one backup folder, in a fixed order.
#include <array>
#include <new>
#include <stdexcept>

#include "app/carve_steps.h"
#include "app/retrievo_app_delegate.h"
#include "base/log.h"
#include "cloud/download_progress.h"
#include "extract/bookmarks_scanner.h"
#include "extract/calendar_scanner.h"
#include "extract/calls_scanner.h"
#include "extract/contacts_scanner.h"
#include "extract/media_scanner.h"
#include "extract/messages_scanner.h"
#include "extract/notes_scanner.h"

namespace {

struct ScanStep {
  const char* name;
  StepOutcome (*run)(ScanContext&);
};

// The order carries data: contacts come first because later steps look names up in
// contactArray; the messages step fills chatMessageArray for the deleted-message step; the
// results de-duplicate deleted records against those filed before them.
constexpr std::array<ScanStep, 12> kStepsAfterManifest{{
    {"contacts", scanContactThread},
    {"messages", scanMessageThread},
    {"notes", scanNoteThread},
    {"calls", scanCallHistoryThread},
    {"bookmarks", scanBookMarkThread},
    {"calendar", scanCalenderThread},
    {"deleted contacts", scanDelContactThread},
    {"deleted messages", scanDelMessageThread},
    {"deleted notes", scanDelNoteThread},
    {"deleted calls", scanDelCallHistoryThread},
    {"deleted bookmarks", ScanDelBookMarkThread},
    {"deleted calendar events", ScanDelCalenderThread},
}};

}  // namespace

RetrievoAppDelegate::~RetrievoAppDelegate() {
  stopDeviceBackup();
  waitForDeviceBackup();
  if (manager != nullptr) {
    manager->unsubscribe();
    manager->setNotify(nullptr);
  }
  for (NotificationCenter::ObserverId id : deviceObservers_) nc.removeObserver(id);
  cloud::requestDownloadStop();
  waitForCloudThreads();
  nc.removeObserver(cloudProgressObserver_);
  waitForScan();
}

bool RetrievoAppDelegate::actScanIOSBackupFile() {
  std::shared_ptr<MzIOSDeviceNode> node = backupList_.recordForScan();
  if (!node) return false;
  bIOSRecoveryMode = false;
  setCurrentNodeForScan(node);
  if (hideMainView) hideMainView();
  if (showResultView) showResultView();
  return ScanIOSBackFile(node->backUpFilePath);
}

bool RetrievoAppDelegate::ScanIOSBackFile(const std::string& backupFolder) {
  std::lock_guard lock(scanMutex_);
  if (scanRunning_.load()) return false;
  if (scanBackFileThreader_.joinable()) scanBackFileThreader_.join();
  createScanLists();
  scanRunning_.store(true);
  scanBackFileThreader_ =
      std::thread([this, backupFolder] { ScanIOSBackUpFilehand(backupFolder); });
  return true;
}

bool RetrievoAppDelegate::scanStopRequested() const { return shouldStopScan && shouldStopScan(); }

bool RetrievoAppDelegate::runScanStep(const char* name, const std::function<StepOutcome()>& run,
                                      const DatabasePreparer& databases) {
  if (scanStopRequested()) return false;
  StepOutcome outcome;
  // A step that runs out of memory (a database far larger than memory allows) is abandoned
  // alone: the scan names it and goes on with the next step.
  try {
    outcome = run();
  } catch (const std::bad_alloc&) {
    outcome = {StepEnd::Unreadable, databases.lastDatabase(),
               std::string("not enough memory to read it; the ") + name + " step was abandoned"};
  } catch (const std::length_error&) {
    outcome = {StepEnd::Unreadable, databases.lastDatabase(),
               std::string("too large to read; the ") + name + " step was abandoned"};
  }
  if (!outcome.done()) {
    applog::line(std::string("The ") + name + " step ended: " + stepEndText(outcome.end) +
                 (outcome.database.empty() ? "" : ": " + outcome.database) +
                 (outcome.reason.empty() ? "" : " (" + outcome.reason + ")"));
  }
  // A missing database is no fault of the backup; every other end names the database.
  if (outcome.end == StepEnd::Unreadable || outcome.end == StepEnd::Truncated) {
    scanProblems.report(outcome.database.empty() ? name : outcome.database, outcome.reason);
  }
  return true;
}

void RetrievoAppDelegate::ScanIOSBackUpFilehand(const std::string& backupFolder) {
  runScan(backupFolder, "manifest", [this, &backupFolder](DatabasePreparer& databases) {
    scanDirAnalyThread(backupFolder, &databases);
  });
}

void RetrievoAppDelegate::runScan(const std::string& folder, const char* firstStepName,
                                  const std::function<void(DatabasePreparer&)>& firstStep) {
  if (!scan) createScanLists();
  scanProblems.clear();
  {
    // The private copies of the databases live exactly as long as the steps run; a stop
    // request ends the steps early and removes them as well.
    DatabasePreparer databases(folder, &scanProblems, [this] { return scanStopRequested(); });
    ScanContext context{
        folder, nc, *scan, databases, currentNodeIsiOS6Version, bIOS7DeviceNode, bIOSRecoveryMode};
    if (!folder.empty()) {
      runScanStep(
          firstStepName,
          [&] {
            firstStep(databases);
            return StepOutcome{};
          },
          databases);
      runDatabaseSteps(context, databases);
    }
    databasesCopied_.store(databases.copiesMade());
  }
  if (ScanThreadFinish) ScanThreadFinish();
  removeSomeArray();
  scanRunning_.store(false);
}

void RetrievoAppDelegate::runDatabaseSteps(ScanContext& context,
                                           const DatabasePreparer& databases) {
  for (const ScanStep& step : kStepsAfterManifest) {
    if (!runScanStep(
            step.name, [&] { return step.run(context); }, databases))
      break;
  }
}

bool RetrievoAppDelegate::ScaniCloudBackup(const std::string& folder) {
  std::lock_guard lock(scanMutex_);
  if (scanRunning_.load()) return false;
  if (scanBackFileThreader_.joinable()) scanBackFileThreader_.join();
  createScanLists();
  scanRunning_.store(true);
  scanBackFileThreader_ = std::thread([this, folder] { ScaniCloudBackuphand(folder); });
  return true;
}

void RetrievoAppDelegate::ScaniCloudBackuphand(const std::string& folder) {
  // A downloaded backup has no manifest: its media are found by looking at its files.
  runScan(folder, "media",
          [this, &folder](DatabasePreparer&) { scanPhotoAndVideoThread(folder, nc); });
}

void RetrievoAppDelegate::waitForScan() {
  std::lock_guard lock(scanMutex_);
  if (scanBackFileThreader_.joinable() &&
      scanBackFileThreader_.get_id() != std::this_thread::get_id()) {
    scanBackFileThreader_.join();
  }
}
