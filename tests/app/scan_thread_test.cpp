#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "app/retrievo_app_delegate.h"
#include "backup_writer.h"
#include "catalogue/stored_file.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/temp_dir.h"

namespace {

struct Recorder {
  std::mutex m;
  std::vector<std::string> names;
  std::vector<std::int32_t> progress;
  int contacts = 0;
  int finished = 0;
};

void observeScan(NotificationCenter& center, Recorder& rec) {
  center.addObserver("ScanContactInfo", [&](const std::any&) {
    std::lock_guard l(rec.m);
    ++rec.contacts;
  });
  center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    std::lock_guard l(rec.m);
    rec.progress.push_back(std::any_cast<std::int32_t>(o));
  });
}

TEST(ScanThread, FullScanLeavesTheBackupFolderByteForByteAndReleasesItsLists) {
  TempDir tmp;
  const std::string folder = tmp.sub("Backup/" + fixtures::sampleBackupFolderName());
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(folder, {}, nullptr, &error)) << error;
  // Also a database with its write-ahead log stored under the log's own key.
  std::filesystem::copy_file(
      storedFilePath(folder, "31bb7ba8914766d4ba40d6dfb6113c8b614be442"),
      folder + "/" + fileKeyFor("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb-wal"));
  const auto before = folderFingerprint(folder);

  NotificationCenter center;
  RetrievoAppDelegate delegate(center);
  Recorder rec;
  observeScan(center, rec);
  bool listsAliveAtFinish = false;
  delegate.ScanThreadFinish = [&] {
    listsAliveAtFinish = delegate.scan != nullptr;
    ++rec.finished;
  };
  auto node = std::make_shared<MzIOSDeviceNode>(*MzIOSDeviceController::readDeviceNode(folder));
  delegate.setCurrentNodeForScan(node);
  EXPECT_TRUE(delegate.currentNodeIsiOS6Version);
  EXPECT_FALSE(delegate.bIOS7DeviceNode);

  ASSERT_TRUE(delegate.ScanIOSBackFile(folder));
  EXPECT_FALSE(delegate.ScanIOSBackFile(folder));  // one scan at a time
  delegate.waitForScan();

  EXPECT_EQ(rec.finished, 1);
  EXPECT_TRUE(listsAliveAtFinish);
  EXPECT_EQ(delegate.scan, nullptr);  // released after the finish
  EXPECT_GT(rec.contacts, 3);
  ASSERT_FALSE(rec.progress.empty());
  // After the manifest's 0..20: contacts, messages, notes, then calls (the bar goes back).
  std::vector<std::int32_t> steps;
  for (std::int32_t p : rec.progress) {
    if (p > 20) steps.push_back(p);
  }
  ASSERT_GE(steps.size(), 4u);
  EXPECT_EQ(std::vector<std::int32_t>(steps.begin(), steps.begin() + 4),
            (std::vector<std::int32_t>{40, 50, 70, 60}));
  EXPECT_EQ(folderFingerprint(folder), before);

  // A second scan may start once the first has ended.
  EXPECT_TRUE(delegate.ScanIOSBackFile(folder));
  delegate.waitForScan();
  EXPECT_EQ(rec.finished, 2);
}

TEST(ScanThread, FolderWithoutDatabasesRunsEveryStepAndFinishes) {
  TempDir tmp;
  fixtures::BackupWriter writer(tmp.sub("bare"));
  writer.addFile("HomeDomain", "Library/Preferences/com.apple.springboard.plist", {'b', 'p'});
  ASSERT_TRUE(writer.write());

  NotificationCenter center;
  RetrievoAppDelegate delegate(center);
  Recorder rec;
  observeScan(center, rec);
  int indexRecords = 0;
  center.addObserver("FindBackUpDirFileInfo", [&](const std::any&) { ++indexRecords; });
  delegate.ScanThreadFinish = [&] { ++rec.finished; };
  ASSERT_TRUE(delegate.ScanIOSBackFile(writer.folder()));
  delegate.waitForScan();
  EXPECT_EQ(rec.finished, 1);
  EXPECT_EQ(rec.contacts, 0);
  EXPECT_EQ(indexRecords, 1);

  // An empty folder path ends every step at once, and the finish still comes.
  ASSERT_TRUE(delegate.ScanIOSBackFile(""));
  delegate.waitForScan();
  EXPECT_EQ(rec.finished, 2);
}

TEST(ScanThread, ScanButtonSetsTheOsFlagsFromTheSelectedBackup) {
  TempDir root;
  fixtures::DeviceInfo device;
  device.productVersion = "7.0.4";
  fixtures::BackupWriter writer(root.sub("b"));
  writer.setDevice(device);
  writer.addFile("HomeDomain", "Library/x", {'x'});
  ASSERT_TRUE(writer.write());

  NotificationCenter center;
  RetrievoAppDelegate delegate(center);
  int switched = 0;
  delegate.showResultView = [&] { ++switched; };
  EXPECT_FALSE(delegate.actScanIOSBackupFile());  // empty list: nothing starts
  delegate.backupList().showIphoneDisk(root.path());
  delegate.bIOSRecoveryMode = true;
  ASSERT_TRUE(delegate.actScanIOSBackupFile());
  delegate.waitForScan();
  EXPECT_EQ(switched, 1);
  EXPECT_FALSE(delegate.bIOSRecoveryMode);
  EXPECT_TRUE(delegate.currentNodeIsiOS6Version);
  EXPECT_TRUE(delegate.bIOS7DeviceNode);
  EXPECT_EQ(delegate.currentNode->backUpFilePath, root.sub("b"));
}

}  // namespace
