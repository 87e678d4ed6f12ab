// The device source of the application delegate: the attached device's state, fed by the
// device services' arrival and removal notifications, and the device backup that turns a
// connected device into a backup folder for the ordinary scan.
#include <algorithm>
#include <chrono>
#include <thread>

#include "app/retrievo_app_delegate.h"
#include "base/log.h"
#include "base/main_thread.h"
#include "base/paths.h"
#include "device/base_info.h"

namespace {

std::optional<std::int32_t> positionOf(const std::any& object) {
  const auto* position = std::any_cast<std::int32_t>(&object);
  if (position == nullptr || *position < 1) return std::nullopt;
  return *position;
}

}  // namespace

void RetrievoAppDelegate::initDeviceManagement(DeviceManager& deviceManager) {
  if (manager != nullptr) return;
  manager = &deviceManager;
  deviceObservers_.push_back(
      nc.addObserver("DeviceConnect", [this](const std::any& o) { DeviceConnectHandle(o); }));
  deviceObservers_.push_back(
      nc.addObserver("DeviceDisConnect", [this](const std::any& o) { DeviceDisConnectHandle(o); }));
  deviceNotify_ = std::make_unique<amd::MzDeviceNotify>(nc);
  manager->setNotify(deviceNotify_.get());
  manager->subscribe();
}

std::optional<RetrievoAppDelegate::AttachedDevice> RetrievoAppDelegate::attachedDevice() const {
  std::lock_guard lock(deviceMutex_);
  return attached_;
}

void RetrievoAppDelegate::DeviceConnectHandle(const std::any& object) {
  const auto position = positionOf(object);
  if (!position || manager == nullptr) return;
  // The values are read outside the lock: each is a round trip to the device.
  amd::BaseInfo info(*manager);
  if (info.open(*position) != 0) return;
  AttachedDevice device;
  device.position = *position;
  device.udid = info.uniqueDeviceId().value_or("");
  // A device that does not tell its identifier (locked, not trusted) cannot be backed up.
  if (device.udid.empty()) {
    applog::line("A device arrived without its identifier; it is not used");
    return;
  }
  device.name = info.deviceName().value_or("");
  device.version = info.productVersion().value_or("");
  device.phoneNumber = info.phoneNumber().value_or("");
  device.model = info.productType().value_or("");
  {
    std::lock_guard lock(deviceMutex_);
    attached_ = std::move(device);
  }
  bDeviceHasConnected.store(true);
  if (deviceStateChanged) deviceStateChanged();
}

void RetrievoAppDelegate::DeviceDisConnectHandle(const std::any& object) {
  const auto position = positionOf(object);
  if (!position) return;
  bool changed = false;
  {
    std::lock_guard lock(deviceMutex_);
    if (attached_ && attached_->position == *position) {
      attached_.reset();
      changed = true;
    } else if (attached_ && attached_->position > *position) {
      // An earlier device went: the recorded one moved up the list.
      --attached_->position;
    }
  }
  if (!changed) return;
  bDeviceHasConnected.store(false);
  if (deviceStateChanged) deviceStateChanged();
}

bool RetrievoAppDelegate::StartScanIOSDeviceAction() {
  if (!bDeviceHasConnected.load() || deviceBackupRunning_.load() || scanRunning_.load()) {
    if (!bDeviceHasConnected.load() && alertNoDevice) alertNoDevice();
    return false;
  }
  bIOSRecoveryMode = true;
  currentNode.reset();
  if (hideMainView) hideMainView();
  if (showResultView) showResultView();
  StartBackupAction();
  return true;
}

void RetrievoAppDelegate::mytimer_hander(std::int32_t value) {
  secondTime.store(value);
  nc.post("ScanProgressInfo", value);
}

void RetrievoAppDelegate::StartBackupAction() {
  waitForDeviceBackup();
  secondTime.store(0);
  deviceBackupStopRequested_.store(false);
  deviceBackupRunning_.store(true);
  backupThread_ = std::thread([this] {
    StartBackupDeviceThread();
    deviceBackupRunning_.store(false);
  });
}

void RetrievoAppDelegate::stopDeviceBackup() {
  deviceBackupStopRequested_.store(true);
  std::lock_guard lock(deviceMutex_);
  if (runningBackup_ != nullptr) runningBackup_->requestStop();
}

void RetrievoAppDelegate::waitForDeviceBackup() {
  if (backupThread_.joinable()) backupThread_.join();
}

amd::DeviceBackupResult RetrievoAppDelegate::runDeviceBackup(const AttachedDevice& device) {
  amd::DeviceBackupRequest request;
  request.root = deviceBackupRoot;
  request.udid = device.udid;
  const std::string backend = manager != nullptr ? manager->backend().name() : std::string();
  request.command =
      amd::backupToolCommand(deviceBackupRoot, device.udid, backend,
                             programFolder.empty() ? paths::runningProgramFolder() : programFolder);
  request.progress = [this](std::int32_t value) { mytimer_hander(value); };
  request.ticker = deviceBackupTicker;
  amd::DeviceBackupDriver driver(std::move(request));
  {
    std::lock_guard lock(deviceMutex_);
    runningBackup_ = &driver;
  }
  // A stop asked for before the driver existed still counts.
  if (deviceBackupStopRequested_.load()) driver.requestStop();
  amd::DeviceBackupResult result = driver.run();
  std::lock_guard lock(deviceMutex_);
  runningBackup_ = nullptr;
  return result;
}

void RetrievoAppDelegate::StartBackupDeviceThread() {
  const auto device = attachedDevice();
  auto finishWithout = [this](const std::string& reason) {
    if (!reason.empty()) {
      applog::line(reason);
      if (deviceBackupFailed) deviceBackupFailed(reason);
    }
    if (ScanThreadFinish) ScanThreadFinish();
  };
  if (!device) {
    finishWithout("");
    return;
  }

  amd::DeviceBackupResult result = runDeviceBackup(*device);
  // A device pulled out makes the tool fail a moment before its removal is told: give the
  // removal that moment, so that it is not reported as a failure of the tool.
  for (int i = 0;
       i < 20 && result.outcome == amd::DeviceBackupOutcome::Failed && bDeviceHasConnected.load();
       ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }

  // The device went away (or the user stopped): the results view is told the scan ended.
  if (!bDeviceHasConnected.load() || deviceBackupStopRequested_.load() ||
      result.outcome == amd::DeviceBackupOutcome::Stopped) {
    finishWithout("");
    return;
  }
  // A failed run is never scanned, even when an earlier backup of the device is still there:
  // the user would take it for the device's data of today.
  if (result.outcome == amd::DeviceBackupOutcome::Failed) {
    finishWithout(result.message);
    return;
  }
  iosDeviceController_.removeAllObjects();
  std::string refusal;
  iosDeviceController_.addDeviceNodeByPath(result.backupFolder, &refusal);
  if (iosDeviceController_.count() == 0) {
    finishWithout("the device backup failed: " +
                  (refusal.empty() ? std::string("no backup was written") : refusal));
    return;
  }
  std::shared_ptr<MzIOSDeviceNode> node = iosDeviceController_.arrangedObjects().front();
  bool ready = true;
  if (readyToScanDeviceBackup) {
    performOnMainThreadAndWait([&] { ready = readyToScanDeviceBackup(node->backUpFilePath); });
  }
  if (!ready) {
    finishWithout("");
    return;
  }
  setCurrentNodeForScan(node);
  nc.post("ScanIOSDeviceInfo", node);
  if (!ScanIOSBackFile(node->backUpFilePath)) finishWithout("");
}
