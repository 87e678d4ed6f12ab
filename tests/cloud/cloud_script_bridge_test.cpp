// The script bridge with the shipped module over a store made by the cloud store builder, and
// with small modules that fail in every way a module can.
#include "cloud/cloud_script_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "base/log.h"
#include "cloud/cloud_device_controller.h"
#include "cloud/cloud_folders.h"
#include "cloud/download_progress.h"
#include "cloud_store_builder.h"
#include "fixture_support.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kModule = std::string(RETRIEVO_SOURCE_DIR) + "/resources/crypto.so";

class LogLines {
 public:
  LogLines() {
    applog::setSink([this](const std::string& line) {
      std::lock_guard lock(mutex_);
      lines_.push_back(line);
    });
  }
  ~LogLines() { applog::setSink({}); }
  bool has(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), text) != lines_.end();
  }
  void clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Progress functions of the tests: count the reports, stop after `stopAfter` of them.
std::atomic<int> reports{0};
std::atomic<int> stopAfter{1 << 30};
std::int32_t countingProgress(const char*, std::int64_t done, std::int64_t total) {
  EXPECT_EQ(done, total);
  return ++reports >= stopAfter ? 1 : 0;
}

// The sample store, built once for the suite (few hash rounds: sign-in stays quick).
class CloudModuleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    store_ = new TempDir;
    result_ = new fixtures::CloudStoreResult;
    std::string error;
    ASSERT_TRUE(fixtures::buildSampleCloudStore(store_->sub("store"), 20, result_, &error))
        << error;
  }
  static void TearDownTestSuite() {
    delete store_;
    delete result_;
  }
  void SetUp() override {
    reports = 0;
    stopAfter = 1 << 30;
    bridge_.setModuleFile(kModule);
    ASSERT_EQ(bridge_.start(), 0);
  }

  // Signs in and prepares the iPhone's snapshot; the download folder made for it.
  std::string prepareThePhone(const std::string& root) {
    EXPECT_EQ(bridge_.authroize("sample@example.com", "retrievo"), 0);
    std::int64_t count = -1;
    const std::string udid = result_->list[0]["udid"];
    EXPECT_EQ(bridge_.geturls(udid, 1, &count), 0);
    EXPECT_EQ(count, static_cast<std::int64_t>(phoneFiles().size()));
    EXPECT_EQ(cloud::makeDownloadFolder(root, "sample@example.com", udid, 1), "");
    return cloud::downloadFolder(root, "sample@example.com", udid, 1);
  }
  const std::vector<fixtures::CloudStoreFile>& phoneFiles() const { return result_->files[0][0]; }

  static TempDir* store_;
  static fixtures::CloudStoreResult* result_;
  ScopedEnv storeEnv_{"RETRIEVO_CLOUD_STORE", (store_->sub("store")).c_str()};
  cloud::CloudScriptBridge bridge_;
};
TempDir* CloudModuleTest::store_ = nullptr;
fixtures::CloudStoreResult* CloudModuleTest::result_ = nullptr;

TEST_F(CloudModuleTest, SignsInListsTheAccountsBackupsAndCountsASnapshotsFiles) {
  LogLines log;
  EXPECT_EQ(std::getenv("LUA_CPATH"), std::string(RETRIEVO_SOURCE_DIR) + "/resources/?.so");
  std::string text;
  EXPECT_EQ(bridge_.query(text), 1);  // not signed in
  EXPECT_TRUE(log.has("查询失败"));
  EXPECT_EQ(bridge_.authroize("sample@example.com", "Retrievo"), 1);
  EXPECT_TRUE(log.has("登陆失败"));
  EXPECT_EQ(bridge_.authroize("someone@example.com", "retrievo"), 1);
  EXPECT_EQ(bridge_.authroize("sample@example.com", "retrievo"), 0);
  EXPECT_TRUE(log.has("登陆成功"));

  ASSERT_EQ(bridge_.query(text), 0);
  std::string why;
  const auto list = parseCloudBackupList(text, &why);
  ASSERT_TRUE(list) << why;
  EXPECT_EQ(*list, result_->list);
  MzICloudDeviceController controller;
  controller.addDeviceNodeByDictionary(&*list);
  ASSERT_EQ(controller.count(), 3u);
  const MzIOSDeviceNode& phone = *controller.arrangedObjects()[0];
  EXPECT_EQ(phone.strDeviceName, "Emma's iPhone");
  EXPECT_EQ(phone.deviceImage, "iphone");
  EXPECT_EQ(phone.strIOSVersion, "6.1.3");
  std::uint64_t size = 0;
  for (const auto& file : phoneFiles()) size += file.size;
  EXPECT_EQ(phone.backupFileSize, size);
  EXPECT_EQ(controller.arrangedObjects()[1]->deviceImage, "ipad");
  EXPECT_NE(controller.arrangedObjects()[1]->strIOSVersion,
            controller.arrangedObjects()[2]->strIOSVersion);

  std::int64_t count = 0;
  ASSERT_EQ(bridge_.geturls(phone.strDeviceSerial, 1, &count), 0);
  EXPECT_TRUE(log.has("获取 " + phone.strDeviceSerial + " 的第 1 个备份..."));
  EXPECT_TRUE(log.has("获取成功，共" + std::to_string(phoneFiles().size()) + "个文件"));
  EXPECT_EQ(bridge_.geturls(phone.strDeviceSerial, 7, &count), -1);  // no such snapshot
  EXPECT_TRUE(log.has("lua_pcall 2"));
  EXPECT_EQ(bridge_.geturls("../" + phone.strDeviceSerial, 1, &count), -1);
}

TEST_F(CloudModuleTest, DownloadFillsMergeByteForByteAndAStopKeepsWhatArrived) {
  TempDir downloads;
  LogLines log;
  const std::string folder = prepareThePhone(downloads.path());
  ASSERT_EQ(bridge_.download(folder, countingProgress), 0);
  EXPECT_TRUE(log.has("下载数据..."));
  EXPECT_TRUE(log.has("下载完成"));
  EXPECT_EQ(reports, static_cast<int>(phoneFiles().size()));
  for (const auto& file : phoneFiles()) {
    EXPECT_EQ(fixtures::readFileBytes(folder + "/merge/" + file.fileKey),
              fixtures::readFileBytes(file.path))
        << file.fileKey;
  }

  // Again into a fresh folder, stopped after the third file.
  TempDir second;
  const std::string stopped = prepareThePhone(second.path());
  reports = 0;
  stopAfter = 3;
  ASSERT_EQ(bridge_.download(stopped, countingProgress), 0);
  EXPECT_EQ(reports, 3);
  std::size_t arrived = 0;
  for (const auto& entry : fs::directory_iterator(stopped + "/merge")) {
    ++arrived;
    EXPECT_EQ(fixtures::readFileBytes(entry.path().string()),
              fixtures::readFileBytes(store_->sub("store/account/" +
                                                  std::string(result_->list[0]["udid"]) +
                                                  "/1/files/" + entry.path().filename().string())));
  }
  EXPECT_EQ(arrived, 3u);

  // Without a "merge" folder the module fails, and so does the call.
  EXPECT_EQ(bridge_.download(downloads.sub("nowhere"), countingProgress), -1);
}

// A module written by a test into its own folder.
std::string writeModule(const TempDir& tmp, const std::string& source) {
  return tmp.writeFile("mod/crypto.so", source);
}

TEST(CloudScriptBridge, ErrorsRaisedInEveryMethodComeBackAsMinusOne) {
  TempDir tmp;
  cloud::CloudScriptBridge bridge;
  LogLines log;
  EXPECT_EQ(bridge.authroize("a", "b"), -1);  // no interpreter yet
  bridge.setModuleFile(writeModule(tmp, R"(
    local M = {}
    M.__index = M
    function M:authroize() error("no network") end
    function M:query() error({}) end
    function M:geturls() local t = nil; return t.x end
    function M:download(folder, progress) progress("f", 1, 1); error("disk full") end
    function ZKiCloud_new() return setmetatable({}, M) end)"));
  ASSERT_EQ(bridge.start(), 0);
  EXPECT_TRUE(bridge.hasInterpreter());
  std::string text = "stale";
  std::int64_t count = 5;
  EXPECT_EQ(bridge.authroize("a", "b"), -1);
  EXPECT_TRUE(log.has("lua_pcall 2"));
  EXPECT_EQ(bridge.query(text), -1);
  EXPECT_EQ(text, "");
  EXPECT_EQ(bridge.geturls("s", 1, &count), -1);
  EXPECT_EQ(count, 5);
  reports = 0;
  stopAfter = 1 << 30;
  EXPECT_EQ(bridge.download(tmp.path(), countingProgress), -1);
  EXPECT_EQ(reports, 1);
  EXPECT_FALSE(log.has("下载完成"));
  bridge.close();
  EXPECT_FALSE(bridge.hasInterpreter());
  EXPECT_EQ(bridge.query(text), -1);
  bridge.close();  // nothing to close
}

TEST(CloudScriptBridge, AModuleThatCannotStartLeavesNoInterpreter) {
  const std::string modules[] = {
      "this is not Lua at all (",
      "error('refused at load')",
      "-- no constructor",
      "function ZKiCloud_new() error('no object') end",
      // A trap on every global lookup: the bridge's own lookups run protected too.
      "setmetatable(_G, {__index = function(_, k) error('no ' .. k) end,"
      " __newindex = function() error('read only') end})",
  };
  for (const std::string& source : modules) {
    TempDir tmp;
    cloud::CloudScriptBridge bridge;
    LogLines log;
    bridge.setModuleFile(writeModule(tmp, source));
    EXPECT_EQ(bridge.start(), 1) << source;
    EXPECT_TRUE(log.has("初始化失败")) << source;
    EXPECT_FALSE(bridge.hasInterpreter()) << source;
    EXPECT_EQ(bridge.authroize("a", "b"), -1) << source;
  }
  TempDir tmp;
  cloud::CloudScriptBridge bridge;
  LogLines log;
  bridge.setModuleFile(tmp.sub("missing/crypto.so"));
  EXPECT_EQ(bridge.start(), 1);
  EXPECT_TRUE(log.has("初始化失败"));
}

TEST(CloudScriptBridge, ADownloadRunsUntilTheStopAndCloseWaitsForIt) {
  TempDir tmp;
  cloud::CloudScriptBridge bridge;
  bridge.setModuleFile(writeModule(tmp, R"(
    local M = {}
    M.__index = M
    function M:download(folder, progress)
      local n = 0
      repeat n = n + 1 until progress("big.file", n % 1000, 1000) == 1
      return true
    end
    function ZKiCloud_new() return setmetatable({}, M) end)"));
  ASSERT_EQ(bridge.start(), 0);
  cloud::resetDownloadProgress();
  std::atomic<int> code{99};
  std::thread download([&] { code = bridge.download(tmp.path(), cloud::icloudDownloadProgress); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(code, 99);  // still running
  cloud::requestDownloadStop();
  bridge.close();  // waits for the download to return
  EXPECT_FALSE(bridge.hasInterpreter());
  download.join();
  EXPECT_EQ(code, 0);
  cloud::resetDownloadProgress();
}

TEST(CloudScriptBridge, ModuleIsFoundFromTheEnvironmentFirst) {
  ScopedEnv set("RETRIEVO_CLOUD_MODULE", "/opt/module/crypto.so");
  EXPECT_EQ(cloud::moduleResourcePath(), "/opt/module/crypto.so");
  ScopedEnv unset("RETRIEVO_CLOUD_MODULE", nullptr);
  EXPECT_EQ(fs::path(cloud::moduleResourcePath()).filename(), "crypto.so");
}

}  // namespace
