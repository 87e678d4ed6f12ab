// The device list and its events over simulated devices: arrival at subscription, removal
// by unplugging, positions that shift, the listener's notifications and the printed texts.
#include "device/device_manager.h"

#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <mutex>
#include <vector>

#include "base/notification_center.h"
#include "device/base_info.h"
#include "device/device_notify.h"
#include "simulated_devices.h"

namespace {

using devicetest::SimulatedDevices;
using devicetest::waitFor;

// Records the positions posted as "DeviceConnect" and "DeviceDisConnect".
class PostedPositions {
 public:
  PostedPositions() {
    auto& center = NotificationCenter::defaultCenter();
    ids_.push_back(
        center.addObserver("DeviceConnect", [this](const std::any& o) { add(connected_, o); }));
    ids_.push_back(
        center.addObserver("DeviceDisConnect", [this](const std::any& o) { add(removed_, o); }));
  }
  ~PostedPositions() {
    for (auto id : ids_) NotificationCenter::defaultCenter().removeObserver(id);
  }
  std::vector<int> connected() const {
    std::lock_guard lock(mutex_);
    return connected_;
  }
  std::vector<int> removed() const {
    std::lock_guard lock(mutex_);
    return removed_;
  }

 private:
  void add(std::vector<int>& list, const std::any& object) {
    std::lock_guard lock(mutex_);
    const auto* position = std::any_cast<std::int32_t>(&object);
    list.push_back(position != nullptr ? *position : -1);
  }
  mutable std::mutex mutex_;
  std::vector<int> connected_, removed_;
  std::vector<NotificationCenter::ObserverId> ids_;
};

std::optional<std::string> nameAt(DeviceManager& manager, int position) {
  amd::BaseInfo info(manager);
  if (info.open(position) != 0) return std::nullopt;
  return info.deviceName();
}

TEST(DeviceManager, RemovingTheFirstOfTwoDevicesShiftsTheSecondToPositionOne) {
  SimulatedDevices devices({"First iPhone", "Second iPhone"});
  ASSERT_TRUE(devices.ok()) << devices.error();
  PostedPositions posted;
  amd::MzDeviceNotify listener;
  auto manager = devices.manager();
  manager->setNotify(&listener);

  testing::internal::CaptureStdout();
  ASSERT_EQ(manager->subscribe(), 0);
  EXPECT_EQ(posted.connected(), (std::vector<int>{1, 2}));
  EXPECT_EQ(nameAt(*manager, 2), "Second iPhone");

  devices.unplug(0);
  ASSERT_TRUE(waitFor([&] { return manager->deviceCount() == 1; }));
  manager->unsubscribe();
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "A device added\nA device added\n");
  EXPECT_EQ(posted.removed(), (std::vector<int>{1}));
  EXPECT_EQ(nameAt(*manager, 1), "Second iPhone");
}

TEST(DeviceManager, ADeviceThatComesBackIsAppendedAfterTheOthers) {
  SimulatedDevices devices({"First iPhone", "Second iPhone"});
  ASSERT_TRUE(devices.ok()) << devices.error();
  PostedPositions posted;
  amd::MzDeviceNotify listener;
  auto manager = devices.manager();
  manager->setNotify(&listener);
  testing::internal::CaptureStdout();
  ASSERT_EQ(manager->subscribe(), 0);
  devices.unplug(0);
  ASSERT_TRUE(waitFor([&] { return manager->deviceCount() == 1; }));
  ASSERT_TRUE(fixtures::writeFileText(devices.folder(0) + "/present", "back\n"));
  ASSERT_TRUE(waitFor([&] { return manager->deviceCount() == 2; }));
  manager->unsubscribe();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(posted.connected(), (std::vector<int>{1, 2, 2}));
  EXPECT_EQ(nameAt(*manager, 2), "First iPhone");
}

TEST(DeviceManager, OpeningDeviceThreeOfTwoFails) {
  SimulatedDevices devices({"First iPhone", "Second iPhone"});
  ASSERT_TRUE(devices.ok()) << devices.error();
  auto manager = devices.manager();
  testing::internal::CaptureStdout();
  manager->subscribe();
  amd::BaseInfo info(*manager);
  EXPECT_EQ(info.open(3), 1);
  EXPECT_EQ(info.open(0), 1);
  EXPECT_FALSE(info.hasDevice());
  EXPECT_EQ(info.position(), -1);
  // Without a device every value is none, without talking to a backend.
  EXPECT_EQ(info.deviceName(), std::nullopt);
  manager->unsubscribe();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "* Subscibe without notify set\nA device added\nA device added\n"
            "* Invalid device init\n* Invalid device init\n");
}

TEST(DeviceManager, AnUnknownRemovalIsReportedAndPostsNothing) {
  SimulatedDevices devices({"Only iPhone"});
  ASSERT_TRUE(devices.ok()) << devices.error();
  PostedPositions posted;
  amd::MzDeviceNotify listener;
  auto manager = devices.manager();
  manager->setNotify(&listener);
  testing::internal::CaptureStdout();
  manager->subscribe();
  manager->deviceCallback(4242, amd::kDeviceDisconnected);
  manager->deviceCallback(1, 7);  // not an event code
  manager->unsubscribe();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "A device added\n* Remove an unknown device\n");
  EXPECT_TRUE(posted.removed().empty());
  EXPECT_EQ(manager->deviceCount(), 1u);
}

TEST(DeviceManager, EmptyAndMissingFoldersAreNoDevices) {
  SimulatedDevices devices({});
  const std::string empty = devices.scratch() + "/empty";
  std::filesystem::create_directory(empty);
  auto manager = devices.manager({empty, devices.scratch() + "/missing"});
  testing::internal::CaptureStdout();
  EXPECT_EQ(manager->subscribe(), 0);
  EXPECT_EQ(manager->deviceCount(), 0u);
  manager->unsubscribe();
  testing::internal::GetCapturedStdout();

  DeviceManager none(amd::makeDeviceBackend(std::string("simulated:")));
  EXPECT_EQ(none.backend().name(), "simulated");
  EXPECT_TRUE(none.unavailableReason().has_value());
}

TEST(DeviceManager, AnUnpluggedDeviceCannotBeConnected) {
  SimulatedDevices devices({"Only iPhone"});
  ASSERT_TRUE(devices.ok()) << devices.error();
  auto manager = devices.manager();
  testing::internal::CaptureStdout();
  manager->subscribe();
  manager->unsubscribe();  // the list keeps the device: no removal is seen
  amd::BaseInfo info(*manager);
  ASSERT_EQ(info.open(1), 0);
  devices.unplug(0);
  EXPECT_EQ(info.deviceName(), std::nullopt);
  // The failed connect released the connection lock: the next operation gets as far.
  EXPECT_EQ(info.uniqueDeviceId(), std::nullopt);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "* Subscibe without notify set\nA device added\n* Can't connect (-2)\n"
            "* Can't connect (-2)\n");
}

}  // namespace
