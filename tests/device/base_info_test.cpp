// Device values of a simulated device: the lockdown texts, the battery and disk-usage
// domains, and values of the wrong type.
#include "device/base_info.h"

#include <gtest/gtest.h>

#include "device/plist_values.h"
#include "simulated_devices.h"

namespace {

using devicetest::SimulatedDevices;

class BaseInfoTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(devices_.ok()) << devices_.error();
    testing::internal::CaptureStdout();
    manager_->subscribe();
  }
  void TearDown() override {
    manager_->unsubscribe();
    testing::internal::GetCapturedStdout();
  }
  // Rewrites the device's values.plist.
  void setValues(const nlohmann::json& values) {
    ASSERT_TRUE(fixtures::writeDeviceValues(devices_.folder(0) + "/values.plist", values));
  }

  SimulatedDevices devices_{{"Emma's iPhone"}};
  std::unique_ptr<DeviceManager> manager_ = devices_.manager();
};

TEST_F(BaseInfoTest, ReadsTheDeviceValuesTheBackupRecords) {
  amd::BaseInfo info(*manager_);
  ASSERT_EQ(info.open(1), 0);
  EXPECT_EQ(info.deviceName(), "Emma's iPhone");
  EXPECT_EQ(info.uniqueDeviceId(), fixtures::sha1Hex("Emma's iPhone"));
  EXPECT_EQ(info.productType(), "iPhone5,2");
  EXPECT_EQ(info.productVersion(), "6.1.3");
  EXPECT_EQ(info.buildVersion(), "10B329");
  EXPECT_EQ(info.serialNumber(), "C39KQ7RMDTC2");
  EXPECT_EQ(info.phoneNumber(), "+46704125583");

  const amd::DiskUsage usage = info.diskUsage();
  EXPECT_EQ(usage.totalDiskCapacity, 16000000000ULL);
  EXPECT_EQ(usage.totalDataCapacity, 14500000000ULL);
  EXPECT_EQ(usage.totalSystemCapacity, 1500000000ULL);
  EXPECT_EQ(usage.amountDataAvailable, 9250000000ULL);
  EXPECT_EQ(usage.totalSystemAvailable, 310000000ULL);
  EXPECT_EQ(usage.totalDataAvailable, 9250000000ULL);

  const amd::PlistPtr battery = info.batteryInfo();
  EXPECT_EQ(amd::plistUnsigned(amd::plistMember(battery.get(), "BatteryCurrentCapacity")), 76u);
  // A key of a domain, and a domain that does not exist.
  EXPECT_EQ(amd::plistUnsigned(info.copyValue(std::string("com.apple.disk_usage"),
                                              std::string("TotalDiskCapacity"))
                                   .get()),
            16000000000ULL);
  EXPECT_EQ(info.copyValue(std::string("com.example.none"), std::nullopt), nullptr);
}

TEST_F(BaseInfoTest, ValuesOfTheWrongTypeOrMissingAreNone) {
  setValues({{"DeviceName", 42},
             {"ProductType", {{"nested", "dictionary"}}},
             {"ProductVersion", ""},
             {"com.apple.disk_usage", {{"TotalDiskCapacity", "sixteen gigabytes"}}},
             {"com.apple.mobile.battery", "not a dictionary"}});
  amd::BaseInfo info(*manager_);
  ASSERT_EQ(info.open(1), 0);
  EXPECT_EQ(info.deviceName(), std::nullopt);
  EXPECT_EQ(info.productType(), std::nullopt);
  EXPECT_EQ(info.productVersion(), "");
  EXPECT_EQ(info.uniqueDeviceId(), std::nullopt);
  EXPECT_EQ(info.batteryInfo(), nullptr);
  const amd::DiskUsage usage = info.diskUsage();
  EXPECT_EQ(usage.totalDiskCapacity, std::nullopt);
  EXPECT_EQ(usage.totalDataAvailable, std::nullopt);
}

TEST_F(BaseInfoTest, AnUnreadableValuesFileGivesNoValues) {
  for (const std::string& bytes : {std::string(), std::string("<plist><dict><key>Device"),
                                   std::string("bplist00\xff\xff\xff", 11)}) {
    ASSERT_TRUE(fixtures::writeFileText(devices_.folder(0) + "/values.plist", bytes));
    amd::BaseInfo info(*manager_);
    ASSERT_EQ(info.open(1), 0);
    EXPECT_EQ(info.deviceName(), std::nullopt);
    EXPECT_EQ(info.diskUsage().totalDiskCapacity, std::nullopt);
  }
}

}  // namespace
