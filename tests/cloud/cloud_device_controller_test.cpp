// The cloud catalogue: records from the module's backup list and from download records.
#include "cloud/cloud_device_controller.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "base/conversions.h"
#include "base/log.h"
#include "catalogue/device_node.h"
#include "cloud/download_record.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

class LogLines {
 public:
  LogLines() {
    applog::setSink([this](const std::string& line) { lines.push_back(line); });
  }
  ~LogLines() { applog::setSink({}); }
  bool has(const std::string& text) const {
    return std::find(lines.begin(), lines.end(), text) != lines.end();
  }
  std::vector<std::string> lines;
};

json listOf(const std::string& text) {
  std::string why;
  auto list = parseCloudBackupList(text, &why);
  EXPECT_TRUE(list) << why;
  return list ? *list : json();
}

TEST(CloudBackupList, BackupObjectsOfADeviceBecomeRecordsWithItsSerial) {
  const json list = listOf(R"([
    {"udid": "00008020-A1", "product": "iPhone", "name": "Phone", "color": "black",
     "snapshot_1": {"local_backup_time": 1371472200, "name": "Emma's iPhone",
                    "snapshot_size": 1520000, "version": "6.1.3", "snapshot_id": 1},
     "snapshot_2": {"local_backup_time": 1386410400.5, "name": "Emma's iPhone",
                    "snapshot_size": 2000, "version": "7.0.4", "snapshot_id": 2}},
    {"udid": "B2", "product": "iPhone6,1", "snapshot_9": {"snapshot_id": 9}},
    {"udid": "C3", "product": "iphone", "s": {"snapshot_id": 3}},
    "a device that is not an object", 42])");
  MzICloudDeviceController controller;
  LogLines log;
  controller.addDeviceNodeByDictionary(&list);
  ASSERT_EQ(controller.count(), 4u);
  const MzIOSDeviceNode& first = *controller.arrangedObjects()[0];
  EXPECT_EQ(first.strDeviceSerial, "00008020-A1");
  EXPECT_EQ(first.strDeviceName, "Emma's iPhone");
  EXPECT_EQ(first.strIOSVersion, "6.1.3");
  EXPECT_EQ(first.backupFileSize, 1520000u);
  EXPECT_EQ(first.strDeviceSize, sizeText(1520000));
  EXPECT_EQ(first.backupID, 1);
  EXPECT_EQ(first.strDeviceBackUpTime, dateText(1371472200, 0));
  EXPECT_EQ(first.deviceImage, "iphone");
  EXPECT_FALSE(first.haveDownload);
  EXPECT_TRUE(first.backUpFilePath.empty());
  EXPECT_EQ(controller.arrangedObjects()[1]->strDeviceSerial, "00008020-A1");
  EXPECT_EQ(controller.arrangedObjects()[1]->backupID, 2);
  // Only exactly "iPhone" is a phone.
  EXPECT_EQ(controller.arrangedObjects()[2]->deviceImage, "ipad");
  EXPECT_EQ(controller.arrangedObjects()[3]->deviceImage, "ipad");
  EXPECT_TRUE(log.has("object==\"black\",name==string"));
  EXPECT_TRUE(log.has("object==\"00008020-A1\",name==string"));

  controller.addDeviceNodeByDictionary(nullptr);
  EXPECT_TRUE(log.has("cloud dictionary is nil"));
  EXPECT_EQ(controller.count(), 4u);
}

TEST(CloudBackupList, AbsentKeysAndWrongKindsGiveAbsentValues) {
  const json list = listOf(R"([
    {"snapshot": {}},
    {"udid": 7, "product": ["iPhone"],
     "snapshot": {"local_backup_time": "yesterday", "name": 5, "snapshot_size": -20,
                  "version": 7.1, "snapshot_id": 99999999999}},
    {"udid": "U", "snapshot": {"snapshot_size": 1e300, "snapshot_id": -3}}])");
  MzICloudDeviceController controller;
  controller.addDeviceNodeByDictionary(&list);
  ASSERT_EQ(controller.count(), 3u);
  for (std::size_t i = 0; i < 2; ++i) {
    const MzIOSDeviceNode& node = *controller.arrangedObjects()[i];
    EXPECT_EQ(node.strDeviceName, "") << i;
    EXPECT_EQ(node.strDeviceSerial, "") << i;
    EXPECT_EQ(node.strIOSVersion, "") << i;
    EXPECT_EQ(node.strDeviceBackUpTime, "") << i;
    EXPECT_EQ(node.strDeviceSize, "") << i;
    EXPECT_EQ(node.backupFileSize, 0u) << i;
    EXPECT_EQ(node.backupID, 0) << i;
    EXPECT_EQ(node.deviceImage, "ipad") << i;
  }
  EXPECT_EQ(controller.arrangedObjects()[2]->backupFileSize, 0u);
  EXPECT_EQ(controller.arrangedObjects()[2]->backupID, -3);
}

TEST(CloudBackupList, RefusesTextThatIsNotAListOrIsHostile) {
  std::string why;
  EXPECT_FALSE(parseCloudBackupList("not json", &why));
  EXPECT_NE(why.find("not JSON"), std::string::npos);
  EXPECT_FALSE(parseCloudBackupList("", &why));
  EXPECT_FALSE(parseCloudBackupList(R"({"udid": "x"})", &why));
  EXPECT_NE(why.find("not an array"), std::string::npos);
  EXPECT_FALSE(parseCloudBackupList("[\"\xff\xfe\"]", &why));

  EXPECT_FALSE(parseCloudBackupList(std::string(1000000, '[') + std::string(1000000, ']'), &why));
  EXPECT_NE(why.find("nested too deeply"), std::string::npos);
  // Brackets inside texts are not nesting.
  EXPECT_TRUE(parseCloudBackupList("[{\"udid\": \"" + std::string(1000, '[') + "\\\"[\"}]", &why))
      << why;

  std::string huge = "[\"" + std::string(kMaxCloudListSize, 'x') + "\"]";
  EXPECT_FALSE(parseCloudBackupList(huge, &why));
  EXPECT_NE(why.find("too large"), std::string::npos);

  const auto empty = parseCloudBackupList("[]", &why);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(why.empty());
  MzICloudDeviceController controller;
  controller.addDeviceNodeByDictionary(&*empty);
  EXPECT_EQ(controller.count(), 0u);
}

// A downloads root: account folders holding backup folders with a download record.
struct DownloadsRoot {
  TempDir tmp;
  std::string root = tmp.sub("root");
  DownloadsRoot() { fs::create_directory(root); }
  std::string addDownload(const std::string& account, const std::string& backup,
                          const std::string& name) {
    const std::string folder = root + "/" + account + "/" + backup;
    fs::create_directories(folder + "/merge");
    cloud::DownloadRecord record;
    record.iCloudName = name;
    record.iCloudDate = "06-17-2013 14:30";
    record.iCloudUDID = "5f2e8c1d";
    record.iCloudiOSVersion = "6.1.3";
    record.iCloudBackupFileSize = "1.52M";
    record.iCloudType = "iphone";
    EXPECT_EQ(cloud::writeDownloadRecord(folder + "/info.plist", record), "");
    return folder;
  }
};

TEST(CloudDownloads, ARootOfTwoEntriesIsIgnoredAndThreeAreSearched) {
  DownloadsRoot downloads;
  downloads.addDownload("me@example.com", "5f2e8c1d_1", "Emma's iPhone");
  fs::create_directory(downloads.root + "/other");
  MzICloudDeviceController controller;
  controller.addDownloadNodeByFilePath(downloads.root);
  EXPECT_EQ(controller.count(), 0u);
  EXPECT_FALSE(bICloudBackuphasDownload(downloads.root));

  const std::string second = downloads.addDownload("you@example.com", "a3c9_2", "Emma's iPad");
  controller.addDownloadNodeByFilePath(downloads.root);
  ASSERT_EQ(controller.count(), 2u);
  EXPECT_TRUE(bICloudBackuphasDownload(downloads.root));
  const MzIOSDeviceNode& node = *controller.arrangedObjects()[1];
  EXPECT_EQ(node.strDeviceName, "Emma's iPad");
  EXPECT_EQ(node.strDeviceBackUpTime, "06-17-2013 14:30");
  EXPECT_EQ(node.strDeviceSerial, "5f2e8c1d");
  EXPECT_EQ(node.strIOSVersion, "6.1.3");
  EXPECT_EQ(node.strDeviceSize, "1.52M");
  EXPECT_EQ(node.strDeviceType, "iphone");
  EXPECT_TRUE(node.haveDownload);
  EXPECT_EQ(node.backUpFilePath, second + "/merge");
  EXPECT_EQ(node.iCloudID, "you@example.com");
  EXPECT_EQ(node.backupID, -1);
}

TEST(CloudDownloads, SkipsLaunchdDotNamesAndLinksAndReadsBrokenRecordsAsEmpty) {
  DownloadsRoot downloads;
  downloads.addDownload("launchd", "x_1", "hidden");
  downloads.addDownload(".cache", "x_1", "hidden");
  const std::string real = downloads.addDownload("me", "x_1", "shown");
  fs::create_directory_symlink(downloads.root + "/me", downloads.root + "/linked");
  fs::create_directories(downloads.root + "/me/empty_2");  // no record: not a download
  const std::string broken = downloads.root + "/me/y_3";
  fs::create_directories(broken);
  downloads.tmp.writeFile("root/me/y_3/info.plist", "\x01\x02 not a plist");

  MzICloudDeviceController controller;
  LogLines log;
  controller.addDownloadNodeByFilePath(downloads.root);
  ASSERT_EQ(controller.count(), 2u);
  EXPECT_EQ(controller.arrangedObjects()[0]->strDeviceName, "shown");
  EXPECT_EQ(controller.arrangedObjects()[0]->backUpFilePath, real + "/merge");
  const MzIOSDeviceNode& empty = *controller.arrangedObjects()[1];
  EXPECT_EQ(empty.strDeviceName, "");
  EXPECT_EQ(empty.strDeviceSerial, "");
  EXPECT_TRUE(empty.haveDownload);
  EXPECT_EQ(empty.backUpFilePath, broken + "/merge");
  EXPECT_EQ(empty.iCloudID, "me");

  controller.addDownloadNodeByFilePath(std::nullopt);
  EXPECT_TRUE(log.has("cloud path is nil"));
  EXPECT_FALSE(bICloudBackuphasDownload(downloads.root + "/missing"));
}

}  // namespace
