#include "catalogue/backup_list_controller.h"

#include <gtest/gtest.h>

#include "backup_writer.h"
#include "support/temp_dir.h"

namespace {

class FakeBackupListView : public BackupListView {
 public:
  void reloadRows(const std::vector<std::shared_ptr<MzIOSDeviceNode>>& rows) override {
    shownRows = rows.size();
  }
  void selectRow(std::optional<std::size_t> row) override { selected = row; }
  void setScanButtonEnabled(bool enabled) override { scanEnabled = enabled; }
  std::optional<std::string> chooseFolder(const std::string& prompt) override {
    lastPrompt = prompt;
    return nextChoice;
  }
  int showAlert(const std::string& message, const std::vector<std::string>& buttons) override {
    alerts.push_back(message);
    alertButtons = buttons;
    return 0;
  }

  std::size_t shownRows = 0;
  std::optional<std::size_t> selected;
  bool scanEnabled = true;
  std::optional<std::string> nextChoice;
  std::string lastPrompt;
  std::vector<std::string> alerts;
  std::vector<std::string> alertButtons;
};

void writeBackup(const std::string& folder, const std::string& name) {
  fixtures::BackupWriter writer(folder);
  fixtures::DeviceInfo device;
  device.deviceName = name;
  writer.setDevice(device);
  writer.addFile("HomeDomain", "Library/a.db", {'a'});
  ASSERT_TRUE(writer.write());
}

TEST(BackupList, RootListingSelectsFirstRowAndSkipsDotNames) {
  TempDir root;
  writeBackup(root.sub("1111111111111111111111111111111111111111"), "First");
  writeBackup(root.sub(".hidden-backup"), "Hidden");
  root.writeFile(".DS_Store", "junk");
  root.writeFile("stray-file", "junk");

  MzIOSDeviceController catalogue;
  FakeBackupListView view;
  BackupListController list(catalogue, &view);
  list.showIphoneDisk(root.path());

  ASSERT_EQ(catalogue.count(), 1u);
  EXPECT_EQ(catalogue.arrangedObjects()[0]->strDeviceName, "First");
  EXPECT_EQ(view.shownRows, 1u);
  EXPECT_EQ(view.selected, 0u);
  EXPECT_TRUE(view.scanEnabled);
  EXPECT_EQ(list.recordForScan()->strDeviceName, "First");

  // Listing again replaces the list rather than adding to it.
  list.showIphoneDiskView(root.path());
  EXPECT_EQ(catalogue.count(), 1u);
}

TEST(BackupList, EmptyRootDisablesScanAndScanAlerts) {
  TempDir root;
  MzIOSDeviceController catalogue;
  FakeBackupListView view;
  BackupListController list(catalogue, &view);
  list.showIphoneDisk(root.path());
  EXPECT_FALSE(view.scanEnabled);
  EXPECT_FALSE(view.selected);

  EXPECT_EQ(list.recordForScan(), nullptr);
  ASSERT_EQ(view.alerts.size(), 1u);
  EXPECT_EQ(view.alerts[0],
            "No iTunes backup found. Please connect your device and recover from iOS device.");
  EXPECT_EQ(view.alertButtons, std::vector<std::string>{"Ok"});
}

TEST(BackupList, SelectionDrivesTheScanButton) {
  TempDir root;
  writeBackup(root.sub("a"), "A");
  writeBackup(root.sub("b"), "B");
  MzIOSDeviceController catalogue;
  FakeBackupListView view;
  BackupListController list(catalogue, &view);
  list.showIphoneDisk(root.path());
  ASSERT_EQ(catalogue.count(), 2u);

  list.tableViewSelectionDidChange(std::nullopt);
  EXPECT_FALSE(view.scanEnabled);
  EXPECT_EQ(list.recordForScan(), nullptr);
  EXPECT_TRUE(view.alerts.empty());  // a list with rows never alerts
  list.tableViewSelectionDidChange(1);
  EXPECT_TRUE(view.scanEnabled);
  EXPECT_EQ(list.recordForScan(), catalogue.arrangedObjects()[1]);
  list.tableViewSelectionDidChange(7);  // past the end: no row
  EXPECT_FALSE(view.scanEnabled);
}

TEST(BackupList, FolderChooserAppendsAndSelectsTheLastRow) {
  TempDir root, elsewhere;
  writeBackup(root.sub("a"), "A");
  writeBackup(elsewhere.sub("mine"), "Mine");
  MzIOSDeviceController catalogue;
  FakeBackupListView view;
  BackupListController list(catalogue, &view);
  list.showIphoneDisk(root.path());

  view.nextChoice = elsewhere.sub("mine");
  list.SelectBackUpAction();
  EXPECT_EQ(view.lastPrompt, "Please select the iTunes backup from the floder to recover your data.");
  ASSERT_EQ(catalogue.count(), 2u);
  EXPECT_EQ(view.selected, 1u);
  EXPECT_EQ(list.recordForScan()->strDeviceName, "Mine");

  // A folder that does not qualify adds nothing, and the last row is selected all the same.
  list.tableViewSelectionDidChange(0);
  view.nextChoice = elsewhere.path();
  list.SelectBackUpAction();
  EXPECT_EQ(catalogue.count(), 2u);
  EXPECT_EQ(view.selected, 1u);
  EXPECT_TRUE(view.scanEnabled);

  // Cancelling changes nothing.
  list.tableViewSelectionDidChange(0);
  view.nextChoice.reset();
  list.SelectBackUpAction();
  EXPECT_EQ(view.selected, 0u);
}

}  // namespace
