// The advanced photo scan over simulated devices: the four stages copied byte for byte with
// one record per media file, the progress values, equal names in two folders, files that do
// not copy, hostile device names, an absent device, a planted local folder and stopping.
#include "device/advanced_photo_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <filesystem>
#include <map>
#include <optional>

#include "base/conversions.h"
#include "extract/item_records.h"
#include "forwarding_backend.h"
#include "simulated_devices.h"

namespace {

namespace fs = std::filesystem;
using devicetest::SimulatedDevices;

// What the scan posted, in order.
struct ScanPosts {
  std::vector<std::string> names;
  std::vector<std::optional<std::int32_t>> progress;  // none for the post without a number
  std::vector<std::shared_ptr<MzPhotoAndVideoNode>> records;

  void observe(NotificationCenter& nc) {
    nc.addObserver("ScanAdancedprogress", [this](const std::any& o) {
      names.push_back("ScanAdancedprogress");
      const auto* value = std::any_cast<std::int32_t>(&o);
      progress.push_back(value ? std::optional<std::int32_t>(*value) : std::nullopt);
    });
    nc.addObserver("ScanPhotoAndVideo", [this](const std::any& o) {
      names.push_back("ScanPhotoAndVideo");
      records.push_back(std::any_cast<std::shared_ptr<MzPhotoAndVideoNode>>(o));
    });
    nc.addObserver("ScanAdancedFinished",
                   [this](const std::any&) { names.push_back("ScanAdancedFinished"); });
  }
};

// Every regular file below `folder`, by path relative to it.
std::map<std::string, std::vector<std::uint8_t>> filesBelow(const std::string& folder) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
    if (e.is_regular_file())
      files[fs::relative(e.path(), folder).string()] = *fixtures::readFileBytes(e.path().string());
  }
  return files;
}

// Whether the media path "DCIM/100APPLE/IMG_0001.JPG" lies in a folder the scan reads.
bool inScannedFolder(const fs::path& relative) {
  std::vector<std::string> parts(relative.begin(), relative.end());
  const auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  const auto holds = [&](std::size_t i, const char* fragment) {
    return upper(parts[i]).find(fragment) != std::string::npos;
  };
  if (parts.size() == 3 && parts[0] == "DCIM") return holds(1, "APPLE");
  if (parts.size() == 4 && parts[1] == "Sync" && (parts[0] == "PhotoData" || parts[0] == "Photos"))
    return holds(2, "SYNCD");
  if (parts.size() == 4 && parts[0] == "PhotoStreamsData") return holds(2, "APPLE");
  return false;
}

// File connections that list extra names in every folder, as a hostile device could.
class HostileNames final : public devicetest::ForwardingFiles {
 public:
  HostileNames(std::unique_ptr<amd::FileConnection> inner, std::vector<std::string> extra)
      : ForwardingFiles(std::move(inner)), extra_(std::move(extra)) {}
  int readDirectory(const std::string& p, std::vector<std::string>* names) override {
    const int code = ForwardingFiles::readDirectory(p, names);
    if (code == 0) names->insert(names->end(), extra_.begin(), extra_.end());
    return code;
  }

 private:
  std::vector<std::string> extra_;
};

class AdvancedPhotoScanTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(devices_.ok()) << devices_.error();
    testing::internal::CaptureStdout();
  }
  void TearDown() override { testing::internal::GetCapturedStdout(); }

  std::string media(const std::string& path) const { return devices_.folder(0) + "/media/" + path; }
  std::string scratch(const std::string& name) const { return devices_.scratch() + "/" + name; }

  // Scans device `position` of `manager` into `local`.
  AdvancedPhotoScanSummary scan(DeviceManager& manager, const std::string& local, int position = 1,
                                std::function<bool()> stop = {}) {
    NotificationCenter nc;
    posts_.observe(nc);
    manager.subscribe();
    AdvancedPhotoScanSummary summary =
        scanDiskAidMediaThread(nc, manager, position, local, std::move(stop));
    manager.unsubscribe();
    return summary;
  }

  SimulatedDevices devices_{{"Emma's iPhone"}};
  ScanPosts posts_;
};

TEST_F(AdvancedPhotoScanTest, CopiesEveryStageByteForByteWithOneRecordPerMediaFile) {
  // A computer-synced folder of the older layout holding a name the camera roll has too, an
  // empty photo (nothing to copy) and a file that is no media.
  const std::vector<std::uint8_t> synced = {0xFF, 0xD8, 0xFF, 0xE0, 's', 'y', 'n', 'c'};
  ASSERT_TRUE(fixtures::writeFileBytes(media("Photos/Sync/100SYNCD/IMG_0001.JPG"), synced));
  ASSERT_TRUE(fixtures::writeFileBytes(media("Photos/Sync/100SYNCD/EMPTY.JPG"), {}));
  ASSERT_TRUE(fixtures::writeFileText(media("Photos/Sync/100SYNCD/Info.plist"), "<plist/>"));
  // The first entry of the video list is a video too.
  ASSERT_TRUE(fixtures::writeFileText(media("Photos/Sync/100SYNCD/CLIP.3g2"), "ftyp3g2a"));

  std::map<std::string, std::vector<std::uint8_t>> expected;
  for (const auto& [path, bytes] : filesBelow(devices_.folder(0) + "/media"))
    if (inScannedFolder(path) && !bytes.empty()) expected[path] = bytes;
  ASSERT_EQ(expected.size(), 13u);  // 5 camera roll, 2 + 3 synced, 3 photo stream

  auto manager = devices_.manager();
  const std::string local = scratch("Photos");
  const AdvancedPhotoScanSummary summary = scan(*manager, local);

  EXPECT_TRUE(summary.connected);
  EXPECT_EQ(filesBelow(local), expected);  // DCIM/.MISC and the empty file are not there
  EXPECT_EQ(summary.filesCopied, 13u);
  EXPECT_EQ(summary.copiesFailed, 1u);
  EXPECT_EQ(summary.namesRefused, 0u);
  EXPECT_EQ(fs::status(local + "/Photos/Sync").permissions() & fs::perms::all,
            fs::perms::owner_all);

  // One record per media file (Info.plist is copied without one), each pointing at its own
  // complete copy: the two IMG_0001.JPG stay apart.
  ASSERT_EQ(posts_.records.size(), 12u);
  EXPECT_EQ(summary.recordsPosted, 12u);
  std::map<std::string, const MzPhotoAndVideoNode*> byDevicePath;
  for (const auto& r : posts_.records) byDevicePath[r->devicePath] = r.get();
  ASSERT_EQ(byDevicePath.size(), 12u);
  for (const auto& [devicePath, r] : byDevicePath) {
    SCOPED_TRACE(devicePath);
    EXPECT_EQ(r->filePath, local + devicePath);
    EXPECT_EQ(r->fileNodeName, fs::path(devicePath).filename().string());
    const auto& bytes = expected.at(devicePath.substr(1));
    EXPECT_EQ(r->fileSizeNumber, bytes.size());
    EXPECT_EQ(r->fileNodeSize, sizeText(bytes.size()));
    const auto ext = fs::path(devicePath).extension();
    EXPECT_EQ(r->bmov, ext == ".MOV" || ext == ".3g2");
  }
  EXPECT_EQ(
      *fixtures::readFileBytes(byDevicePath.at("/Photos/Sync/100SYNCD/IMG_0001.JPG")->filePath),
      synced);
  EXPECT_NE(*fixtures::readFileBytes(byDevicePath.at("/DCIM/100APPLE/IMG_0001.JPG")->filePath),
            synced);

  // The stages close at 25, 50, 75 and 100 and the scan ends with its finish.
  ASSERT_FALSE(posts_.progress.empty());
  EXPECT_EQ(posts_.progress.front(), std::nullopt);
  EXPECT_EQ(posts_.progress.back(), 100);
  EXPECT_EQ(posts_.names.back(), "ScanAdancedFinished");

  // A second scan into the same folder replaces the copies and keeps nothing else.
  posts_ = {};
  EXPECT_EQ(scan(*manager, local).filesCopied, 13u);
  EXPECT_EQ(filesBelow(local), expected);
}

TEST_F(AdvancedPhotoScanTest, OneAppleFolderOfFourPhotosPostsItsProgressAndStopsWhenAsked) {
  // A device whose media file system holds only DCIM/100APPLE with four photos.
  const std::string device = scratch("small");
  ASSERT_TRUE(fixtures::writeDeviceValues(device + "/values.plist", {{"DeviceName", "Small"}}));
  ASSERT_TRUE(fixtures::writeFileText(device + "/present", "attached\n"));
  for (int i = 1; i <= 4; ++i)
    ASSERT_TRUE(fixtures::writeFileText(
        device + "/media/DCIM/100APPLE/IMG_000" + std::to_string(i) + ".JPG",
        "photo " + std::to_string(i)));
  const auto manager = std::make_unique<DeviceManager>(
      amd::makeSimulatedBackend({device}, std::chrono::milliseconds(10)));

  scan(*manager, scratch("Photos"));
  const std::vector<std::optional<std::int32_t>> expected = {std::nullopt, 6,  12, 18, 25,
                                                             25,           50, 75, 100};
  EXPECT_EQ(posts_.progress, expected);
  EXPECT_EQ(posts_.records.size(), 4u);

  // Asked between files: after the second file the scan stops and still finishes.
  posts_ = {};
  const AdvancedPhotoScanSummary stopped =
      scan(*manager, scratch("Stopped"), 1, [this] { return posts_.records.size() >= 2; });
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(stopped.filesCopied, 2u);
  const std::vector<std::string> names = {"ScanAdancedprogress", "ScanPhotoAndVideo",
                                          "ScanAdancedprogress", "ScanPhotoAndVideo",
                                          "ScanAdancedprogress", "ScanAdancedFinished"};
  EXPECT_EQ(posts_.names, names);
}

TEST_F(AdvancedPhotoScanTest, RefusesHostileDeviceNamesAndWritesNothingOutsideTheFolder) {
  const std::vector<std::string> hostile = {"",
                                            "../../escaped.JPG",
                                            "APPLE/../../../escaped.JPG",
                                            "/etc/APPLE",
                                            std::string("nul\0APPLE.JPG", 13),
                                            std::string(300, 'A') + "APPLE.JPG"};
  for (const auto& name : hostile) EXPECT_FALSE(isSafeDeviceName(name));
  EXPECT_FALSE(isSafeDeviceName("."));
  EXPECT_FALSE(isSafeDeviceName(".."));
  EXPECT_TRUE(isSafeDeviceName("..IMG_0001.JPG"));
  EXPECT_TRUE(isSafeDeviceName(std::string(255, 'A')));

  DeviceManager manager(std::make_unique<devicetest::ForwardingBackend>(
      amd::makeSimulatedBackend({devices_.folder(0)}, std::chrono::milliseconds(10)),
      [&hostile](std::unique_ptr<amd::FileConnection> files) {
        return std::make_unique<HostileNames>(std::move(files), hostile);
      }));
  const std::string local = scratch("inner/Photos");
  fs::create_directories(scratch("inner"));
  const AdvancedPhotoScanSummary summary = scan(manager, local);

  EXPECT_EQ(summary.filesCopied, 10u);
  EXPECT_GT(summary.namesRefused, hostile.size());  // in listings of every level
  EXPECT_EQ(posts_.records.size(), 10u);
  // Only the scan's folder was written: the scratch folder holds the device and it alone.
  std::vector<std::string> top;
  for (const auto& e : fs::directory_iterator(devices_.scratch()))
    top.push_back(e.path().filename());
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"device1", "inner"}));
  EXPECT_EQ(filesBelow(scratch("inner")).size(), 10u);
}

TEST_F(AdvancedPhotoScanTest, AbsentDeviceOrPlantedFolderPostsOnlyTheFinish) {
  auto manager = devices_.manager();
  // No device at position 2: nothing but the finish, and no local folder made.
  AdvancedPhotoScanSummary absent = scan(*manager, scratch("Photos"), 2);
  EXPECT_FALSE(absent.connected);
  EXPECT_NE(absent.connectCode, 0);
  EXPECT_EQ(posts_.names, std::vector<std::string>{"ScanAdancedFinished"});
  EXPECT_FALSE(fs::exists(scratch("Photos")));

  // A local folder planted as a link to another folder: refused, nothing copied there.
  posts_ = {};
  fs::create_directories(scratch("elsewhere"));
  fs::create_directory_symlink(scratch("elsewhere"), scratch("Planted"));
  const AdvancedPhotoScanSummary planted = scan(*manager, scratch("Planted"));
  EXPECT_TRUE(planted.connected);
  EXPECT_FALSE(planted.folderProblem.empty());
  EXPECT_EQ(planted.filesCopied, 0u);
  EXPECT_EQ(posts_.names, std::vector<std::string>{"ScanAdancedFinished"});
  EXPECT_TRUE(fs::is_empty(scratch("elsewhere")));
}

}  // namespace
