// The device source of the delegate on simulated devices: the attached device's state
// following arrival and removal, the scan button without a device, and a whole run from the
// device backup to the scan of that backup, or to its end when the device goes away.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "../device/simulated_devices.h"
#include "app/retrievo_app_delegate.h"
#include "backup_writer.h"
#include "device/backup_ticker.h"
#include "support/temp_dir.h"

namespace {

using devicetest::waitFor;

// A delegate on its own centre, subscribed to `manager`, recording what it posts.
struct DeviceSourceRun {
  NotificationCenter center;
  RetrievoAppDelegate delegate{center};
  TempDir work;
  std::mutex mutex;
  std::vector<std::int32_t> progress;
  std::vector<std::string> failures;
  std::atomic<int> finished{0}, alerts{0}, backupsAnnounced{0};

  explicit DeviceSourceRun(DeviceManager& manager) {
    center.addObserver("ScanProgressInfo", [this](const std::any& o) {
      std::lock_guard lock(mutex);
      progress.push_back(std::any_cast<std::int32_t>(o));
    });
    center.addObserver("ScanIOSDeviceInfo", [this](const std::any&) { ++backupsAnnounced; });
    delegate.ScanThreadFinish = [this] { ++finished; };
    delegate.alertNoDevice = [this] { ++alerts; };
    delegate.deviceBackupFailed = [this](const std::string& reason) {
      std::lock_guard lock(mutex);
      failures.push_back(reason);
    };
    delegate.deviceBackupRoot = work.sub("Backup");
    delegate.programFolder = RETRIEVO_TOOLS_DIR;
    delegate.initDeviceManagement(manager);
  }
  ~DeviceSourceRun() {
    delegate.waitForDeviceBackup();
    delegate.waitForScan();
  }
};

TEST(DeviceSource, FollowsArrivalAndRemovalOfTheRecordedDevice) {
  devicetest::SimulatedDevices devices({"First iPhone", "Second iPad"});
  ASSERT_TRUE(devices.ok()) << devices.error();
  auto manager = devices.manager();
  DeviceSourceRun run(*manager);

  // Both arrive at subscription; the later arrival is the one recorded.
  ASSERT_TRUE(run.delegate.bDeviceHasConnected.load());
  auto device = run.delegate.attachedDevice();
  ASSERT_TRUE(device);
  EXPECT_EQ(device->name, "Second iPad");
  EXPECT_EQ(device->position, 2);
  EXPECT_EQ(device->udid, fixtures::sha1Hex("Second iPad"));
  EXPECT_FALSE(device->version.empty());

  // Unplugging the other device moves the recorded one up the list and keeps it.
  devices.unplug(0);
  ASSERT_TRUE(waitFor([&] { return manager->deviceCount() == 1; }));
  ASSERT_TRUE(waitFor([&] { return run.delegate.attachedDevice()->position == 1; }));
  EXPECT_TRUE(run.delegate.bDeviceHasConnected.load());

  devices.unplug(1);
  ASSERT_TRUE(waitFor([&] { return !run.delegate.bDeviceHasConnected.load(); }));
  EXPECT_FALSE(run.delegate.attachedDevice());

  // Without a device the scan button only alerts.
  EXPECT_FALSE(run.delegate.StartScanIOSDeviceAction());
  EXPECT_EQ(run.alerts.load(), 1);
  EXPECT_FALSE(run.delegate.bIOSRecoveryMode);
  EXPECT_FALSE(std::filesystem::exists(run.work.sub("Backup")));
}

TEST(DeviceSource, BacksTheDeviceUpThenScansTheBackupWithTickedProgress) {
  devicetest::SimulatedDevices devices({"Emma's iPhone"}, /*withData=*/true);
  ASSERT_TRUE(devices.ok()) << devices.error();
  auto manager = devices.manager();
  DeviceSourceRun run(*manager);
  // The simulated backup tool finds the device through the setting the backend reads.
  setenv("RETRIEVO_DEVICE", ("simulated:" + devices.folder(0)).c_str(), 1);
  // The backup tool waits for two ticks of a manual clock before it finishes.
  auto ticker = std::make_shared<amd::ManualBackupTicker>();
  run.delegate.deviceBackupTicker = ticker;
  const std::string gate = run.work.sub("gate");
  const std::string tool = run.work.writeFile(
      "tool.sh", "#!/bin/sh\nwhile [ ! -e '" + gate + "' ]; do sleep 0.01; done\nexec '" +
                     std::string(RETRIEVO_TOOLS_DIR) +
                     "/retrievo-sim-backup' \"$@\" --seconds 0\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  setenv("RETRIEVO_BACKUP_TOOL", tool.c_str(), 1);

  ASSERT_TRUE(run.delegate.StartScanIOSDeviceAction());
  EXPECT_TRUE(run.delegate.bIOSRecoveryMode);
  ASSERT_TRUE(ticker->fire(2));
  std::ofstream(gate) << "go";
  ASSERT_TRUE(waitFor([&] { return run.finished.load() == 1; }));
  run.delegate.waitForDeviceBackup();
  run.delegate.waitForScan();
  unsetenv("RETRIEVO_BACKUP_TOOL");
  unsetenv("RETRIEVO_DEVICE");

  std::lock_guard lock(run.mutex);
  EXPECT_TRUE(run.failures.empty()) << run.failures.front();
  ASSERT_GE(run.progress.size(), 3u);
  EXPECT_EQ(run.progress[0], 1);
  EXPECT_EQ(run.progress[1], 2);
  EXPECT_EQ(run.backupsAnnounced.load(), 1);
  ASSERT_TRUE(run.delegate.currentNode);
  EXPECT_EQ(run.delegate.currentNode->backUpFilePath,
            run.work.sub("Backup/" + fixtures::sha1Hex("Emma's iPhone")));
  EXPECT_EQ(run.delegate.iosDeviceController().count(), 1u);
  // The scan read the backup: its record names the device the backup was made of.
  EXPECT_EQ(run.delegate.currentNode->strDeviceName, "Emma's iPhone");
}

TEST(DeviceSource, ADeviceRemovedOrABrokenToolEndsTheRunWithoutAScan) {
  devicetest::SimulatedDevices devices({"Emma's iPhone"}, /*withData=*/true);
  ASSERT_TRUE(devices.ok()) << devices.error();
  auto manager = devices.manager();
  DeviceSourceRun run(*manager);
  run.delegate.deviceBackupTicker = std::make_shared<amd::ManualBackupTicker>();

  // A tool that exits at once with a complaint: the reason is told, the scan ends, and the
  // backup an earlier run left in the folder is not scanned as if it were today's.
  fixtures::BackupWriter earlier(run.delegate.deviceBackupRoot + "/" +
                                 fixtures::sha1Hex("Emma's iPhone"));
  earlier.addFile("HomeDomain", "Library/Preferences/a.plist", {'b', 'p'});
  ASSERT_TRUE(earlier.write());
  const std::string broken =
      run.work.writeFile("broken.sh", "#!/bin/sh\necho 'ERROR: could not pair' >&2\nexit 3\n");
  std::filesystem::permissions(broken, std::filesystem::perms::owner_all);
  setenv("RETRIEVO_BACKUP_TOOL", broken.c_str(), 1);
  ASSERT_TRUE(run.delegate.StartScanIOSDeviceAction());
  ASSERT_TRUE(waitFor([&] { return run.finished.load() == 1; }));
  run.delegate.waitForDeviceBackup();
  {
    std::lock_guard lock(run.mutex);
    ASSERT_EQ(run.failures.size(), 1u);
    EXPECT_EQ(run.failures[0], "the device backup failed: ERROR: could not pair");
  }

  // The device unplugged while its backup is written: no scan, the results are told it ended.
  setenv("RETRIEVO_DEVICE", ("simulated:" + devices.folder(0)).c_str(), 1);
  const std::string slow =
      run.work.writeFile("slow.sh", "#!/bin/sh\nexec '" + std::string(RETRIEVO_TOOLS_DIR) +
                                        "/retrievo-sim-backup' \"$@\" --seconds 5\n");
  std::filesystem::permissions(slow, std::filesystem::perms::owner_all);
  setenv("RETRIEVO_BACKUP_TOOL", slow.c_str(), 1);
  ASSERT_TRUE(run.delegate.StartScanIOSDeviceAction());
  devices.unplug(0);
  ASSERT_TRUE(waitFor([&] { return run.finished.load() == 2; }));
  run.delegate.waitForDeviceBackup();
  unsetenv("RETRIEVO_BACKUP_TOOL");
  unsetenv("RETRIEVO_DEVICE");
  EXPECT_EQ(run.backupsAnnounced.load(), 0);
  EXPECT_FALSE(run.delegate.scanRunning());
  std::lock_guard lock(run.mutex);
  EXPECT_EQ(run.failures.size(), 1u) << "a removal is not a failure of the tool";
}

}  // namespace
