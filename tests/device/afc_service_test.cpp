// The file services over a simulated device: listings, byte-for-byte copies (also of an
// empty file and one whose reading fails part way), hostile device paths, unplugging,
// application containers and the application list.
#include "device/afc_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "device/app_service.h"
#include "device/plist_values.h"
#include "forwarding_backend.h"
#include "simulated_devices.h"

namespace {

namespace fs = std::filesystem;
using devicetest::SimulatedDevices;

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// File connections that fail the `failingRead`-th read of every file (1-based).
class FailingReads final : public devicetest::ForwardingFiles {
 public:
  FailingReads(std::unique_ptr<amd::FileConnection> inner, int failingRead)
      : ForwardingFiles(std::move(inner)), failingRead_(failingRead) {}
  int openFile(const std::string& p, amd::FileMode m, FileHandle* f) override {
    reads_ = 0;
    return ForwardingFiles::openFile(p, m, f);
  }
  int readFile(FileHandle f, std::uint8_t* b, std::size_t n, std::size_t* got) override {
    if (++reads_ == failingRead_) return -99;
    return ForwardingFiles::readFile(f, b, n, got);
  }

 private:
  int failingRead_;
  int reads_ = 0;
};

class AfcServiceTest : public testing::Test {
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
  std::string media(const std::string& path) const { return devices_.folder(0) + "/media/" + path; }
  std::string local(const std::string& name) const { return devices_.scratch() + "/" + name; }

  SimulatedDevices devices_{{"Emma's iPhone"}, /*withData=*/true};
  std::unique_ptr<DeviceManager> manager_ = devices_.manager();
};

TEST_F(AfcServiceTest, ListsTheMediaFoldersTheAdvancedScanWalks) {
  amd::AfcService afc(*manager_);
  ASSERT_EQ(afc.open(1), 0);
  EXPECT_EQ(sorted(afc.listDirectory("/DCIM").value()),
            (std::vector<std::string>{".MISC", "100APPLE"}));
  EXPECT_EQ(sorted(afc.listDirectory("/DCIM/100APPLE").value()),
            (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG", "IMG_0003.JPG",
                                      "IMG_0004.PNG", "IMG_0005.MOV"}));
  EXPECT_EQ(afc.listDirectory("/PhotoData/Sync").value(), (std::vector<std::string>{"100SYNCD"}));
  EXPECT_EQ(afc.listDirectory("/PhotoStreamsData/1784203945/100APPLE").value().size(), 3u);
  EXPECT_EQ(afc.listDirectory("PhotoData//./Sync/").value(),
            (std::vector<std::string>{"100SYNCD"}));

  fs::create_directory(media("Empty"));
  EXPECT_EQ(afc.listDirectory("/Empty"), std::vector<std::string>{});
  EXPECT_EQ(afc.listDirectory("/Missing"), std::nullopt);
  EXPECT_EQ(afc.listDirectory("/DCIM/100APPLE/IMG_0001.JPG"), std::nullopt);

  const auto info = afc.fileInfo("/DCIM/100APPLE/IMG_0005.MOV").value();
  EXPECT_EQ(info.at("st_ifmt"), "S_IFREG");
  EXPECT_EQ(info.at("st_size"), std::to_string(fs::file_size(media("DCIM/100APPLE/IMG_0005.MOV"))));
  EXPECT_EQ(afc.fileInfo("/DCIM").value().at("st_ifmt"), "S_IFDIR");

  amd::Afc2Service root(*manager_);
  EXPECT_NE(root.open(1), 0);  // no simulated device is jailbroken
  EXPECT_FALSE(root.isOpen());
}

TEST_F(AfcServiceTest, CopiesFilesByteForByte) {
  amd::AfcService afc(*manager_);
  ASSERT_EQ(afc.open(1), 0);
  for (const std::string path : {"DCIM/100APPLE/IMG_0001.JPG", "DCIM/100APPLE/IMG_0005.MOV",
                                 "PhotoData/Sync/100SYNCD/IMG_2002.PNG",
                                 "PhotoStreamsData/1784203945/100APPLE/IMG_3002.HEIC"}) {
    const std::string out = local(fs::path(path).filename().string());
    ASSERT_EQ(afc.copyToLocal("/" + path, out), 0) << path;
    EXPECT_EQ(fixtures::readFileBytes(out), fixtures::readFileBytes(media(path))) << path;
  }
  // Exactly one chunk, and one byte more than a chunk.
  for (std::size_t size : {amd::AfcService::kCopyChunk, amd::AfcService::kCopyChunk + 1}) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + size);
    ASSERT_TRUE(fixtures::writeFileBytes(media("chunk.bin"), bytes));
    ASSERT_EQ(afc.copyToLocal("/chunk.bin", local("chunk.bin")), 0);
    EXPECT_EQ(fixtures::readFileBytes(local("chunk.bin")), bytes);
  }
  // The media of the backup and of the device are the same files.
  EXPECT_EQ(fixtures::readFileBytes(media("DCIM/100APPLE/IMG_0001.JPG")),
            fixtures::readFileBytes(devices_.folder(0) +
                                    "/data/CameraRollDomain/Media/DCIM/100APPLE/IMG_0001.JPG"));

  // And back: a local file written to the device.
  ASSERT_EQ(afc.makeDirectory("/Uploads"), 0);
  ASSERT_EQ(afc.copyToDevice(local("IMG_0005.MOV"), "/Uploads/movie.mov"), 0);
  EXPECT_EQ(fixtures::readFileBytes(media("Uploads/movie.mov")),
            fixtures::readFileBytes(media("DCIM/100APPLE/IMG_0005.MOV")));
  EXPECT_EQ(afc.copyToDevice(local("no-such-file"), "/Uploads/x"), 1);
}

TEST_F(AfcServiceTest, NothingCopiedIsAFailure) {
  ASSERT_TRUE(fixtures::writeFileBytes(media("DCIM/100APPLE/IMG_0009.JPG"), {}));
  amd::AfcService afc(*manager_);
  EXPECT_EQ(afc.copyToLocal("/DCIM/100APPLE/IMG_0001.JPG", local("a.jpg")), 1);  // not open
  EXPECT_EQ(afc.listDirectory("/DCIM"), std::nullopt);
  ASSERT_EQ(afc.open(1), 0);
  // An empty device file leaves an empty local file.
  EXPECT_EQ(afc.copyToLocal("/DCIM/100APPLE/IMG_0009.JPG", local("empty.jpg")), 1);
  EXPECT_TRUE(fs::exists(local("empty.jpg")));
  EXPECT_EQ(fs::file_size(local("empty.jpg")), 0u);
  EXPECT_EQ(afc.copyToLocal("/DCIM/100APPLE/IMG_0404.JPG", local("missing.jpg")), 1);
  EXPECT_FALSE(fs::exists(local("missing.jpg")));
  EXPECT_EQ(afc.copyToLocal("/DCIM/100APPLE", local("folder")), 1);
  EXPECT_EQ(afc.copyToLocal("/DCIM/100APPLE/IMG_0001.JPG", local("no/such/folder.jpg")), 1);
}

TEST_F(AfcServiceTest, AReadFailingPartWayLeavesNoTruncatedCopy) {
  for (int failing : {1, 3}) {
    DeviceManager manager(std::make_unique<devicetest::ForwardingBackend>(
        amd::makeSimulatedBackend({devices_.folder(0)}),
        [failing](std::unique_ptr<amd::FileConnection> files) {
          return std::make_unique<FailingReads>(std::move(files), failing);
        }));
    manager.subscribe();
    amd::AfcService afc(manager);
    ASSERT_EQ(afc.open(1), 0);
    const std::string out = local("partial" + std::to_string(failing) + ".mov");
    // The movie is several chunks long: the third read fails after two chunks were written.
    EXPECT_EQ(afc.copyToLocal("/DCIM/100APPLE/IMG_0005.MOV", out), 1);
    EXPECT_FALSE(fs::exists(out));
    // A file of less than a chunk is read whole (data, then the end) before the third read.
    if (failing == 3) {
      EXPECT_EQ(afc.copyToLocal("/DCIM/.MISC/Info.plist", out), 0);
    }
    manager.unsubscribe();
  }
}

TEST_F(AfcServiceTest, HostileDevicePathsStayInsideTheMediaFolder) {
  ASSERT_TRUE(fixtures::writeFileText(devices_.scratch() + "/secret.txt", "outside\n"));
  std::error_code ignored;
  fs::create_directory_symlink(devices_.scratch(), media("DCIM/escape"), ignored);
  fs::create_symlink(devices_.scratch() + "/secret.txt", media("DCIM/secret.txt"), ignored);
  amd::AfcService afc(*manager_);
  ASSERT_EQ(afc.open(1), 0);
  const std::string longName(300, 'A');
  const std::vector<std::string> hostile = {"../values.plist",
                                            "/../present",
                                            "/DCIM/../../values.plist",
                                            "/DCIM/100APPLE/../../../secret.txt",
                                            "/DCIM/escape/secret.txt",
                                            "/DCIM/secret.txt",
                                            "/DCIM/escape",
                                            std::string("/DCIM/100APPLE/IMG_0001.JPG\0/x", 30),
                                            "/DCIM/" + longName,
                                            "/" + std::string(2000, 'a') + "/b"};
  for (const auto& path : hostile) {
    EXPECT_EQ(afc.copyToLocal(path, local("stolen")), 1) << path;
    EXPECT_EQ(afc.listDirectory(path), std::nullopt) << path;
    EXPECT_EQ(afc.fileInfo(path), std::nullopt) << path;
    EXPECT_NE(afc.removePath(path), 0) << path;
    EXPECT_NE(afc.renamePath("/DCIM/100APPLE/IMG_0002.JPG", path), 0) << path;
  }
  EXPECT_FALSE(fs::exists(local("stolen")));
  EXPECT_TRUE(fs::exists(devices_.scratch() + "/secret.txt"));
  EXPECT_TRUE(fs::exists(devices_.folder(0) + "/present"));
  EXPECT_TRUE(fs::exists(media("DCIM/100APPLE/IMG_0002.JPG")));
  // "/etc/passwd" is a path of the device, inside the media folder, where there is none.
  EXPECT_EQ(afc.copyToLocal("/etc/passwd", local("passwd")), 1);
  EXPECT_NE(afc.removePath("/"), 0);
  EXPECT_TRUE(fs::exists(media("DCIM")));
}

TEST_F(AfcServiceTest, UnpluggingEndsTheOpenService) {
  amd::AfcService afc(*manager_);
  ASSERT_EQ(afc.open(1), 0);
  ASSERT_EQ(afc.copyToLocal("/DCIM/100APPLE/IMG_0001.JPG", local("before.jpg")), 0);
  devices_.unplug(0);
  EXPECT_EQ(afc.copyToLocal("/DCIM/100APPLE/IMG_0002.JPG", local("after.jpg")), 1);
  EXPECT_EQ(afc.listDirectory("/DCIM"), std::nullopt);
  EXPECT_FALSE(fs::exists(local("after.jpg")));
  ASSERT_TRUE(devicetest::waitFor([&] { return manager_->deviceCount() == 0; }));
  amd::AfcService again(*manager_);
  EXPECT_EQ(again.open(1), 1);
}

TEST_F(AfcServiceTest, ApplicationsAndTheirContainers) {
  amd::AppService apps(*manager_);
  EXPECT_TRUE(apps.applicationIdentifiers().empty());  // not open
  ASSERT_EQ(apps.open(1), 0);
  EXPECT_EQ(sorted(apps.applicationIdentifiers()),
            (std::vector<std::string>{"com.burbn.instagram", "com.facebook.Facebook"}));
  EXPECT_EQ(
      amd::plistText(apps.applicationValue("com.burbn.instagram", "CFBundleIdentifier").get()),
      "com.burbn.instagram");
  EXPECT_EQ(apps.applicationValue("com.burbn.instagram", "NoSuchAttribute"), nullptr);
  EXPECT_EQ(apps.applicationValue("com.example.none", "CFBundleIdentifier"), nullptr);

  amd::AppDirService container(*manager_);
  ASSERT_EQ(container.openAppContainer(1, "com.burbn.instagram"), 0);
  const auto entries = container.listDirectory("/").value();
  EXPECT_FALSE(entries.empty());
  EXPECT_EQ(container.listDirectory("/../../media"), std::nullopt);
  for (const std::string bundle :
       {"..", "../AppDomain-com.burbn.instagram", "com.example.none", ""}) {
    amd::AppDirService other(*manager_);
    EXPECT_NE(other.openAppContainer(1, bundle), 0) << bundle;
    EXPECT_FALSE(other.isOpen());
  }
}

}  // namespace
