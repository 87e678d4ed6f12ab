// The real backend on a machine without usbmuxd or without a device: it finds no device,
// says why, and neither subscribing nor asking waits.
#include "device/libimobiledevice_backend.h"

#include <gtest/gtest.h>

#include <chrono>

#include "device/afc_service.h"
#include "device/base_info.h"
#include "device/device_manager.h"

namespace {

TEST(LibimobiledeviceBackend, WithoutADeviceFindsNoneAndReturnsPromptly) {
  const auto start = std::chrono::steady_clock::now();
  DeviceManager manager(amd::makeDeviceBackend(std::nullopt));
  EXPECT_EQ(manager.backend().name(), "libimobiledevice");
  testing::internal::CaptureStdout();
  manager.subscribe();
  const std::size_t found = manager.deviceCount();
  const auto reason = manager.unavailableReason();
  amd::BaseInfo info(manager);
  const int opened = info.open(1);
  amd::AfcService afc(manager);
  const int afcOpened = afc.open(1);
  EXPECT_EQ(manager.unsubscribe(), 0);
  const std::string printed = testing::internal::GetCapturedStdout();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  if (found > 0) GTEST_SKIP() << "a device is attached to this machine";
  EXPECT_TRUE(reason.has_value());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(afcOpened, 1);
  EXPECT_EQ(info.deviceName(), std::nullopt);
  EXPECT_NE(printed.find("* Invalid device init\n"), std::string::npos);
}

}  // namespace
