// The device source in the window, on a simulated device: its panel, the scan that backs it up
// and shows the backup's results, and the advanced photo scan that adds the device's photos.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "app/retrievo_app_delegate.h"
#include "device/simulated_backend.h"
#include "results/result_view_controller.h"
#include "sample_device.h"
#include "support/spin_until.h"
#include "support/temp_dir.h"
#include "ui/device_panel.h"
#include "ui/mz_button.h"
#include "ui/mz_window.h"
#include "ui/results_view.h"

namespace {

TEST(DeviceWindow, TheDevicePanelScansTheDeviceAndTheAdvancedScanAddsItsPhotos) {
  TempDir tmp;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleDevice(tmp.sub("device"), {}, &error)) << error;
  const std::string tool =
      tmp.writeFile("tool.sh", "#!/bin/sh\nexec '" + std::string(RETRIEVO_TOOLS_DIR) +
                                   "/retrievo-sim-backup' \"$@\" --seconds 0\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
  setenv("RETRIEVO_BACKUP_TOOL", tool.c_str(), 1);
  setenv("RETRIEVO_DEVICE", ("simulated:" + tmp.sub("device")).c_str(), 1);
  setenv("RETRIEVO_BACKUP_ROOT", tmp.sub("no-backups").c_str(), 1);

  DeviceManager manager(
      amd::makeSimulatedBackend({tmp.sub("device")}, std::chrono::milliseconds(10)));
  NotificationCenter center;
  RetrievoAppDelegate delegate(center);
  delegate.deviceBackupRoot = tmp.sub("Backup");
  delegate.programFolder = RETRIEVO_TOOLS_DIR;
  {
    MzWindow window(delegate);
    QStringList questions;
    window.askQuestion = [&](const QString& message, const QStringList&) {
      questions << message;
      return 0;
    };
    window.advancedScanFolder = tmp.sub("Photos");
    window.show();
    window.applicationDidFinishLaunching();
    delegate.initDeviceManagement(manager);
    window.ChangeToDeviceView();
    ASSERT_TRUE(spinUntil([&] { return window.scanDeviceHasDeviceView()->isVisible(); }));
    EXPECT_FALSE(window.scanDeviceNoDeviceView()->isVisible());
    bool named = false;
    for (QLabel* label : window.devicePanel()->findChildren<QLabel*>()) {
      named = named || label->text() == "Emma's iPhone";
    }
    EXPECT_TRUE(named);

    // The scan button backs the device up and scans the backup.
    center.post("MzbuttonMouseDown", window.devicePanel()->startScanButton());
    ResultsView* results = window.resultView();
    ASSERT_TRUE(spinUntil([&] {
      return window.results().bScanFinished && !delegate.deviceBackupRunning() &&
             !delegate.scanRunning();
    }));
    EXPECT_TRUE(questions.isEmpty()) << questions.join("\n").toStdString();
    EXPECT_EQ(window.results().deviceInfo().heading, "iOS Device Information");
    EXPECT_EQ(window.results().deviceInfo().deviceName, "Emma's iPhone");
    EXPECT_GT(window.results().countsFor(ResultCategory::Contact).live, 0u);
    const std::size_t photos = window.results().countsFor(ResultCategory::Photo).live;
    ASSERT_TRUE(results->advancedScanButton()->isVisible());

    // The advanced scan copies the device's media and adds them to the photos.
    results->advancedScanButton()->click();
    ASSERT_TRUE(spinUntil(
        [&] { return window.results().bScanFinished && !window.results().advancedScanRunning(); }));
    EXPECT_EQ(window.results().countsFor(ResultCategory::Photo).live, photos + 10);
    EXPECT_FALSE(results->advancedScanButton()->isVisible());
    EXPECT_TRUE(std::filesystem::exists(tmp.sub("Photos/DCIM/100APPLE/IMG_0001.JPG")));
  }
  unsetenv("RETRIEVO_BACKUP_TOOL");
  unsetenv("RETRIEVO_DEVICE");
  unsetenv("RETRIEVO_BACKUP_ROOT");
}

}  // namespace
