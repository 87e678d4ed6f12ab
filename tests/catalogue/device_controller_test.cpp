#include "catalogue/device_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "backup_writer.h"
#include "base/localization.h"
#include "base/log.h"
#include "catalogue/folder_size.h"
#include "support/temp_dir.h"

namespace {

std::string makeBackup(const TempDir& tmp, const std::string& name, fixtures::DeviceInfo device) {
  fixtures::BackupWriter writer(tmp.sub(name));
  writer.setDevice(device);
  writer.addFile("HomeDomain", "Library/Preferences/com.apple.example.plist", {'x'});
  std::string error;
  EXPECT_TRUE(writer.write(&error)) << error;
  return writer.folder();
}

TEST(ProductTypeTable, ModelsIconsAndCase) {
  auto model = [](const char* t) { return MzIOSDeviceController::GetDevcieType(std::string(t)); };
  EXPECT_EQ(model("iPhone3,3"), "iPhone 4");
  EXPECT_EQ(model("iPhone5,2"), "iPhone 5");
  EXPECT_EQ(model("IPAD3,1"), "NewiPad");
  EXPECT_EQ(model("iPhone1,1"), "iPhone");
  EXPECT_EQ(model("iPhone1,2"), "iPhone3G");
  EXPECT_EQ(model("iPod3,1"), "IpodTouch3G");
  EXPECT_EQ(MzIOSDeviceController::GetDevcieType(std::string()), "iPhone");
  EXPECT_EQ(MzIOSDeviceController::GetDevcieType(std::nullopt), "iPhone");
  EXPECT_EQ(model("iPod5,1"), "iPod touch (5th generation)");
  // Current devices; a two-digit product type is not read as the one it contains.
  EXPECT_EQ(model("iPhone10,3"), "iPhone X");
  EXPECT_EQ(model("iPhone17,2"), "iPhone 16 Pro Max");
  EXPECT_EQ(model("iPhone7,2"), "iPhone 6");
  EXPECT_EQ(model("iPhone15,2"), "iPhone 14 Pro");
  EXPECT_EQ(model("iPhone99,1"), std::nullopt);

  EXPECT_EQ(MzIOSDeviceController::iconForModel("NewiPad"), "ipad");
  EXPECT_EQ(MzIOSDeviceController::iconForModel("iPad5"), "ipad");
  EXPECT_EQ(MzIOSDeviceController::iconForModel("iPhone 5"), "iphone");
  EXPECT_EQ(MzIOSDeviceController::iconForModel(""), "iphone");
}

TEST(ProductTypeTable, CurrentIpadsAreNotTheFirstOnes) {
  auto model = [](const char* t) { return MzIOSDeviceController::GetDevcieType(std::string(t)); };
  // The family rows still name their own product types...
  EXPECT_EQ(model("iPad1,1"), "iPad1");
  EXPECT_EQ(model("iPad2,5"), "iPad2");
  EXPECT_EQ(model("iPad3,4"), "NewiPad");
  EXPECT_EQ(model("iPad5,3"), "iPad5");
  EXPECT_EQ(model("iPhone5"), "iPhone 5");
  // ...but not the two-digit ones that begin like them.
  EXPECT_EQ(model("iPad11,6"), "iPad (8th generation)");
  EXPECT_EQ(model("iPad13,4"), "iPad Pro 11-inch (3rd generation)");
  EXPECT_EQ(model("iPad14,1"), "iPad mini (6th generation)");
  EXPECT_EQ(model("ipad16,6"), "iPad Pro 13-inch (M4)");
  EXPECT_EQ(model("iPad15,3"), "iPad Air 11-inch (M3)");
  EXPECT_EQ(model("iPad16,2"), "iPad mini (A17 Pro)");
  EXPECT_EQ(model("iPad19,1"), std::nullopt);
  // A two-digit second number is not read as the one it begins with.
  EXPECT_EQ(model("iPad13,1"), "iPad Air (4th generation)");
  EXPECT_EQ(model("iPad13,10"), "iPad Pro 12.9-inch (5th generation)");
  EXPECT_EQ(model("iPad7,1"), "iPad Pro 12.9-inch (2nd generation)");
  EXPECT_EQ(model("iPad7,11"), "iPad (7th generation)");
  EXPECT_EQ(model("iPad6,12"), "iPad (5th generation)");

  EXPECT_EQ(MzIOSDeviceController::iconForModel("iPad Pro 13-inch (M4)"), "ipad");
  EXPECT_EQ(MzIOSDeviceController::iconForModel("iPad mini (A17 Pro)"), "ipad");
  EXPECT_EQ(MzIOSDeviceController::iconForModel("iPod touch (7th generation)"), "iphone");
}

TEST(ProductTypeTable, TranslationReplacesTheModelKey) {
  setTranslationTable({{"NewiPad", "iPad (3rd generation)"}});
  EXPECT_EQ(MzIOSDeviceController::GetDevcieType(std::string("iPad3,4")), "iPad (3rd generation)");
  setTranslationTable({});
}

TEST(OsVersionCheck, ChoosesTheDatabaseGeneration) {
  bool ios7 = false;
  EXPECT_TRUE(IOSVersionIOS6(std::string("6.1"), ios7));
  EXPECT_FALSE(ios7);
  EXPECT_TRUE(IOSVersionIOS6(std::string("7.0.4"), ios7));
  EXPECT_TRUE(ios7);

  bool flag = false;
  EXPECT_FALSE(IOSVersionIOS6(std::string("5.1.1"), flag));
  EXPECT_FALSE(IOSVersionIOS6(std::string("8.0"), flag));
  EXPECT_FALSE(IOSVersionIOS6(std::string("16"), flag));
  EXPECT_FALSE(IOSVersionIOS6(std::string(""), flag));
  EXPECT_FALSE(IOSVersionIOS6(std::nullopt, flag));
  EXPECT_FALSE(flag);

  // Once set, the iOS 7 flag stays set for the run.
  EXPECT_FALSE(IOSVersionIOS6(std::string("5.0"), ios7));
  EXPECT_TRUE(ios7);
}

TEST(TimeZoneConversion, PrintsLocalMinutes) {
  ScopedEnv tz("TZ", "UTC");
  EXPECT_EQ(MzIOSDeviceController::convertCurrentTimeZone2("2013-06-01 12:34:56 +0000"),
            "2013-06-01 12:34");
  EXPECT_EQ(MzIOSDeviceController::convertCurrentTimeZone2("2013-06-01 12:34:56 +0200"),
            "2013-06-01 10:34");
  EXPECT_EQ(MzIOSDeviceController::convertCurrentTimeZone2("2013-06-01 12:34"), "2013-06-01 12:34");
  EXPECT_EQ(MzIOSDeviceController::convertCurrentTimeZone2("not a date"), "not a date");
  {
    ScopedEnv cet("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(MzIOSDeviceController::convertCurrentTimeZone2("2013-06-01 23:30:00 +0000"),
              "2013-06-02 01:30");
  }
}

TEST(HostVersion, ReportsNumbers) {
  int major = -1, minor = -1, bugFix = -1;
  MzIOSDeviceController::getSystemVersionMajor(&major, &minor, &bugFix);
  EXPECT_GE(major, 0);
  EXPECT_GE(minor, 0);
  EXPECT_GE(bugFix, 0);
  MzIOSDeviceController::getSystemVersionMajor(nullptr, nullptr, nullptr);  // no crash
}

TEST(ReadFolder, InfoPlistRecord) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  fixtures::DeviceInfo device;
  device.deviceName = "Emma's iPhone";
  device.productType = "iPhone5,2";
  device.productVersion = "6.1.3";
  device.itunesVersion = "11.0.4";
  device.serialNumber = "F2LK1234ABCD";
  std::string folder = makeBackup(tmp, "a", device);

  auto node = MzIOSDeviceController::readDeviceNode(folder);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->strDeviceName, "Emma's iPhone");
  EXPECT_EQ(node->strDeviceType, "iPhone 5");
  EXPECT_EQ(node->strDeviceSerial, "F2LK1234ABCD");
  EXPECT_EQ(node->strIOSVersion, "6.1.3");
  EXPECT_EQ(node->itunesVersion, "11.0.4");
  EXPECT_EQ(node->deviceImage, "iphone");
  EXPECT_EQ(node->backUpFilePath, folder);
  EXPECT_EQ(node->strDeviceSize,
            std::to_string(std::filesystem::file_size(folder + "/Info.plist")));
  // YYYY-MM-DD HH:MM
  ASSERT_EQ(node->strDeviceBackUpTime.size(), 16u) << node->strDeviceBackUpTime;
  EXPECT_EQ(node->strDeviceBackUpTime[4], '-');
  EXPECT_EQ(node->strDeviceBackUpTime[10], ' ');
  EXPECT_EQ(node->strDeviceBackUpTime[13], ':');
}

TEST(ReadFolder, TheListShowsLastBackupDateElseTheFileTime) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  fixtures::DeviceInfo device;
  device.infoPlistFormat = fixtures::PlistFormat::Binary;
  auto node = MzIOSDeviceController::readDeviceNode(makeBackup(tmp, "dated", device));
  ASSERT_TRUE(node);
  EXPECT_EQ(node->lastBackupDate, fixtures::kBackupUnixTime);
  EXPECT_EQ(MzIOSDeviceController::listedBackupTime(*node), "2013-05-31 11:33");

  // Without the key the list keeps the time Info.plist was written.
  device.lastBackupDate.reset();
  device.infoPlistFormat = fixtures::PlistFormat::Xml;
  std::string folder = makeBackup(tmp, "undated", device);
  const std::chrono::sys_seconds written = std::chrono::sys_days{std::chrono::year{2020} / 2 / 3} +
                                           std::chrono::hours{4} + std::chrono::minutes{5};
  std::filesystem::last_write_time(folder + "/Info.plist",
                                   std::chrono::file_clock::from_sys(written));
  node = MzIOSDeviceController::readDeviceNode(folder);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->lastBackupDate, std::nullopt);
  EXPECT_EQ(MzIOSDeviceController::listedBackupTime(*node), "2020-02-03 04:05");
}

TEST(ReadFolder, ListedRecordsCarryTheStoredFilesSize) {
  TempDir tmp;
  fixtures::DeviceInfo device;
  std::string folder = makeBackup(tmp, "a", device);
  device.writeInfoPlist = false;
  std::string fromManifest = makeBackup(tmp, "b", device);

  // A record read alone has no stored size; the list then shows Info.plist's size.
  auto alone = MzIOSDeviceController::readDeviceNode(folder);
  ASSERT_TRUE(alone);
  EXPECT_EQ(alone->storedBytes, std::nullopt);
  EXPECT_EQ(MzIOSDeviceController::listedSize(*alone), alone->strDeviceSize);

  MzIOSDeviceController catalogue;
  catalogue.addDeviceNodeByPath(folder);
  catalogue.addDeviceNodeByPath(fromManifest);
  ASSERT_EQ(catalogue.count(), 2u);
  for (const auto& node : catalogue.arrangedObjects()) {
    ASSERT_TRUE(node->storedBytes);
    EXPECT_EQ(*node->storedBytes, regularFilesSize(node->backUpFilePath));
    EXPECT_EQ(MzIOSDeviceController::listedSize(*node), std::to_string(*node->storedBytes));
  }
  EXPECT_GT(*catalogue.arrangedObjects()[0]->storedBytes,
            std::filesystem::file_size(folder + "/Info.plist"));
  EXPECT_EQ(catalogue.arrangedObjects()[1]->strDeviceSize, "");
}

TEST(ReadFolder, ManifestPlistFallbackShowsBuildAndNoSize) {
  TempDir tmp;
  fixtures::DeviceInfo device;
  device.writeInfoPlist = false;
  device.productType = "iPad3,1";
  device.buildVersion = "10B329";
  std::string folder = makeBackup(tmp, "b", device);

  auto node = MzIOSDeviceController::readDeviceNode(folder);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->itunesVersion, "10B329");
  EXPECT_EQ(node->strDeviceSize, "");
  EXPECT_EQ(node->strDeviceType, "NewiPad");
  EXPECT_EQ(node->deviceImage, "ipad");
  EXPECT_FALSE(node->strDeviceBackUpTime.empty());
}

TEST(ReadFolder, BothPlistKindsAreRead) {
  TempDir tmp;
  fixtures::DeviceInfo device;
  device.infoPlistFormat = fixtures::PlistFormat::Binary;
  device.deviceName = "Binary Info";
  auto node = MzIOSDeviceController::readDeviceNode(makeBackup(tmp, "bin", device));
  ASSERT_TRUE(node);
  EXPECT_EQ(node->strDeviceName, "Binary Info");

  device.writeInfoPlist = false;
  device.manifestPlistFormat = fixtures::PlistFormat::Xml;
  device.deviceName = "Xml Manifest";
  node = MzIOSDeviceController::readDeviceNode(makeBackup(tmp, "xml", device));
  ASSERT_TRUE(node);
  EXPECT_EQ(node->strDeviceName, "Xml Manifest");
}

TEST(ReadFolder, FoldersThatDoNotQualify) {
  TempDir tmp;
  std::vector<std::string> logged;
  applog::setSink([&](const std::string& l) { logged.push_back(l); });
  EXPECT_FALSE(MzIOSDeviceController::readDeviceNode(tmp.sub("missing")));
  applog::setSink({});
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], "Filepath is not exist");

  // One entry, even when it is Info.plist.
  fixtures::DeviceInfo device;
  fixtures::BackupWriter writer(tmp.sub("one"));
  device.writeManifestPlist = false;
  writer.setDevice(device);
  writer.setManifestLayout(fixtures::ManifestLayout::None);
  ASSERT_TRUE(writer.write());
  ASSERT_TRUE(std::filesystem::exists(tmp.sub("one/Info.plist")));
  EXPECT_FALSE(MzIOSDeviceController::readDeviceNode(tmp.sub("one")));

  // Two files, but neither plist.
  tmp.writeFile("plain/a", "a");
  tmp.writeFile("plain/b", "b");
  EXPECT_FALSE(MzIOSDeviceController::readDeviceNode(tmp.sub("plain")));

  // A Manifest.plist without "Lockdown".
  tmp.writeFile("nolockdown/Manifest.plist",
                "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>IsEncrypted</key>"
                "<false/></dict></plist>");
  tmp.writeFile("nolockdown/x", "x");
  EXPECT_FALSE(MzIOSDeviceController::readDeviceNode(tmp.sub("nolockdown")));

  // A corrupt Info.plist counts as absent; the Manifest.plist then describes the backup.
  device.writeManifestPlist = true;
  device.deviceName = "From Manifest";
  std::string folder = makeBackup(tmp, "corrupt", device);
  tmp.writeFile("corrupt/Info.plist", "bplist00 this is not a property list");
  std::string refusal = "stale";
  auto node = MzIOSDeviceController::readDeviceNode(folder, &refusal);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->strDeviceName, "From Manifest");
  EXPECT_EQ(refusal, "");

  // With neither list readable the folder gives no record and says why; a folder that is
  // no backup at all gives no reason.
  tmp.writeFile("corrupt/Manifest.plist", "<plist><dict>");
  EXPECT_FALSE(MzIOSDeviceController::readDeviceNode(folder, &refusal));
  EXPECT_EQ(refusal, "Info.plist not a property list");
  std::filesystem::remove(folder + "/Info.plist");
  EXPECT_FALSE(MzIOSDeviceController::readDeviceNode(folder, &refusal));
  EXPECT_EQ(refusal, "Manifest.plist not a property list");
  EXPECT_FALSE(MzIOSDeviceController::readDeviceNode(tmp.sub("nolockdown"), &refusal));
  EXPECT_EQ(refusal, "");
}

}  // namespace
