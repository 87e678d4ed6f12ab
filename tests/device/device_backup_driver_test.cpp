// The device backup driver: the tool's argument list, the progress ticks and the tool's own
// percentages, how a failed or stopped tool is reported, the working folder and identifier
// refused, and a whole backup of a simulated device by retrievo-sim-backup.
#include "device/device_backup_driver.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <future>
#include <mutex>
#include <numeric>

#include "catalogue/device_controller.h"
#include "catalogue/manifest_reader.h"
#include "device/backup_tool_output.h"
#include "sample_backup.h"
#include "sample_device.h"
#include "simulated_devices.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using amd::DeviceBackupOutcome;
using amd::DeviceBackupResult;
using Clock = std::chrono::steady_clock;

// A process that has ended: gone, or a zombie no one has reaped yet.
bool hasEnded(pid_t pid) {
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t close = stat.rfind(')');
  return close == std::string::npos || (close + 2 < stat.size() && stat[close + 2] == 'Z');
}

// The progress values a run posted.
class PostedValues {
 public:
  std::function<void(std::int32_t)> callback() {
    return [this](std::int32_t value) {
      std::lock_guard lock(mutex_);
      values_.push_back(value);
    };
  }
  std::vector<std::int32_t> values() const {
    std::lock_guard lock(mutex_);
    return values_;
  }
  bool waitForValueAtLeast(std::int32_t value) const {
    return devicetest::waitFor([&] {
      const auto all = values();
      return !all.empty() && all.back() >= value;
    });
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::int32_t> values_;
};

class DeviceBackupDriverTest : public testing::Test {
 protected:
  // An executable shell script; `body` sees the driver's arguments as $1..$5 (--backup,
  // --root, ROOT, --target, UDID) and the scratch folder as $T.
  std::string tool(const std::string& body) {
    const std::string path =
        tmp_.writeFile("tool" + std::to_string(++tools_) + ".sh",
                       "#!/bin/sh\nT='" + tmp_.path() + "'\nROOT=\"$3\"; UDID=\"$5\"\n" + body);
    ::chmod(path.c_str(), 0755);
    return path;
  }
  // The tool's argument list as the driver gives it.
  std::vector<std::string> command(const std::string& program) const {
    return {program, "--backup", "--root", root(), "--target", udid_};
  }
  std::string root() const { return tmp_.sub("Backup"); }
  std::string backupFolder() const { return root() + "/" + udid_; }

  amd::DeviceBackupRequest request(std::vector<std::string> argv) {
    amd::DeviceBackupRequest r;
    r.root = root();
    r.udid = udid_;
    r.command = std::move(argv);
    r.progress = posted_.callback();
    r.ticker = ticker_;
    r.stopGrace = std::chrono::milliseconds(300);
    return r;
  }
  // Starts a run on a thread of its own.
  std::future<DeviceBackupResult> start(const std::shared_ptr<amd::DeviceBackupDriver>& driver) {
    return std::async(std::launch::async, [driver] { return driver->run(); });
  }
  DeviceBackupResult runTool(const std::string& body) {
    return amd::DeviceBackupDriver(request(command(tool(body)))).run();
  }
  void go(const std::string& name = "go") const { tmp_.writeFile(name, ""); }

  // Info.plist once `go` exists: a tool that runs until the test lets it end.
  static constexpr char kWaitThenWrite[] =
      "while [ ! -e \"$T/go\" ]; do sleep 0.01; done\n"
      "mkdir -p \"$ROOT/$UDID\" && echo '<plist/>' >\"$ROOT/$UDID/Info.plist\"\n";

  // A run whose tool waits while the test fires `ticks` ticks; what it posted.
  std::vector<std::int32_t> valuesAfterTicks(std::size_t ticks) {
    auto driver = std::make_shared<amd::DeviceBackupDriver>(request(command(tool(kWaitThenWrite))));
    auto run = start(driver);
    EXPECT_TRUE(ticker_->fire(ticks));
    go();
    EXPECT_EQ(run.get().outcome, DeviceBackupOutcome::Written);
    return posted_.values();
  }

  TempDir tmp_;
  std::string udid_ = "0123456789abcdef0123456789abcdef01234567";
  std::shared_ptr<amd::ManualBackupTicker> ticker_ = std::make_shared<amd::ManualBackupTicker>();
  PostedValues posted_;
  int tools_ = 0;
};

TEST(BackupToolCommandTest, NamesTheToolAndItsArguments) {
  {
    ScopedEnv tool("RETRIEVO_BACKUP_TOOL", "/opt/backup/tool");
    const auto argv = amd::backupToolCommand("/tmp/Backup", "X", "libimobiledevice", "/bin");
    EXPECT_EQ(argv, (std::vector<std::string>{"/opt/backup/tool", "--backup", "--root",
                                              "/tmp/Backup", "--target", "X"}));
  }
  ScopedEnv empty("RETRIEVO_BACKUP_TOOL", "");
  EXPECT_EQ(amd::backupToolCommand("/tmp/Backup", "X", "simulated", "/usr/lib/retrievo"),
            (std::vector<std::string>{"/usr/lib/retrievo/retrievo-sim-backup", "--backup", "--root",
                                      "/tmp/Backup", "--target", "X"}));
  EXPECT_EQ(amd::backupToolCommand("/tmp/Backup", "X", "libimobiledevice", "/usr/bin"),
            (std::vector<std::string>{"idevicebackup2", "--udid", "X", "backup", "/tmp/Backup"}));

  EXPECT_TRUE(amd::isUsableDeviceId("00008030-001A2B3C4D5E6F70"));
  EXPECT_TRUE(amd::isUsableDeviceId(std::string(64, 'a')));
  for (const std::string& bad :
       std::vector<std::string>{"", "../x", "a/b", "a b", ".", std::string(65, 'a')})
    EXPECT_FALSE(amd::isUsableDeviceId(bad)) << bad;
}

TEST(BackupToolOutputTest, ReadsTheWholeBackupsPercentagesAcrossPieces) {
  amd::BackupToolOutput output;
  EXPECT_EQ(output.add("Receiving files\n[=====    ]  4"), std::nullopt);  // line not ended
  EXPECT_EQ(output.add("2% Finished\r"), 42);
  // A batch's bar (sizes in parentheses), a fraction, over 100, four digits: none.
  EXPECT_EQ(output.add("\r[==  ]  80% (1.2 MB/1.5 MB)     \r12.5%\n150%\n1000%\n"), std::nullopt);
  EXPECT_EQ(output.add("[=] 7% Finished\n[==] 9% Finished\n\n   \n"), 9);
  EXPECT_EQ(output.lastLine(), "[==] 9% Finished");
  EXPECT_EQ(output.add("ERROR: Could not start backup process"), std::nullopt);
  EXPECT_EQ(output.finish(), std::nullopt);
  EXPECT_EQ(output.lastLine(), "ERROR: Could not start backup process");
}

TEST_F(DeviceBackupDriverTest, AShortBackupPostsOneValuePerTick) {
  EXPECT_EQ(valuesAfterTicks(2), (std::vector<std::int32_t>{1, 2}));
}

TEST_F(DeviceBackupDriverTest, ALongBackupPostsTheCapOnEveryTickAfterIt) {
  std::vector<std::int32_t> expected(40);
  std::iota(expected.begin(), expected.end(), 1);
  expected.insert(expected.end(), 10, amd::kBackupTickCap);
  EXPECT_EQ(valuesAfterTicks(50), expected);
}

TEST_F(DeviceBackupDriverTest, TheToolsOwnPercentagesReplaceTheTicksAndNeverGoBack) {
  const std::string program = tool(
      "while [ ! -e \"$T/go\" ]; do sleep 0.01; done\n"
      "printf '[==    ]   5%% (1 MB/20 MB)\\r[=====     ]  50%% Finished\\n'\n"
      "while [ ! -e \"$T/go2\" ]; do sleep 0.01; done\n"
      "printf '[=   ]  10%% Finished\\n\\r[=======   ]  75%% Finished\\r\\n'\n"
      "mkdir -p \"$ROOT/$UDID\" && echo '<plist/>' >\"$ROOT/$UDID/Manifest.plist\"\n");
  auto driver = std::make_shared<amd::DeviceBackupDriver>(request(command(program)));
  auto run = start(driver);
  ASSERT_TRUE(ticker_->fire(3));
  go();
  ASSERT_TRUE(posted_.waitForValueAtLeast(20));
  ASSERT_TRUE(ticker_->fire(2));  // no more ticks once the tool counts itself
  go("go2");
  EXPECT_EQ(run.get().outcome, DeviceBackupOutcome::Written);
  EXPECT_EQ(posted_.values(), (std::vector<std::int32_t>{1, 2, 3, 20, 30}));
}

TEST_F(DeviceBackupDriverTest, AFailedToolIsReportedWithItsLastWords) {
  DeviceBackupResult r =
      runTool("echo 'Receiving files'\necho 'ERROR: device refused' >&2\nexit 3");
  EXPECT_EQ(r.outcome, DeviceBackupOutcome::Failed);
  EXPECT_TRUE(r.exit.exited);
  EXPECT_EQ(r.exit.code, 3);
  EXPECT_EQ(r.message, "the device backup failed: ERROR: device refused");
  EXPECT_EQ(r.backupFolder, backupFolder());

  r = runTool("exit 5");
  EXPECT_EQ(r.message, "the device backup failed: exit status 5");
  r = runTool("kill -9 $$");
  EXPECT_EQ(r.exit.signal, SIGKILL);
  EXPECT_EQ(r.message, "the device backup failed: killed by signal 9");
  r = runTool("echo 'Backup Successful.'\nexit 0");
  EXPECT_EQ(r.outcome, DeviceBackupOutcome::Failed);
  EXPECT_EQ(r.message, "the device backup failed: no backup was written");
  r = amd::DeviceBackupDriver(request(command(tmp_.sub("missing-tool")))).run();
  EXPECT_EQ(r.message, "the device backup failed: could not start " + tmp_.sub("missing-tool") +
                           ": No such file or directory");

  // A tool that fails after writing a backup has written one; an earlier backup left in the
  // folder does not make a failed run a success.
  r = runTool("mkdir -p \"$ROOT/$UDID\" && echo '<plist/>' >\"$ROOT/$UDID/Info.plist\"\nexit 1");
  EXPECT_EQ(r.outcome, DeviceBackupOutcome::Written);
  r = runTool("echo 'ERROR: device locked'\nexit 1");
  EXPECT_EQ(r.outcome, DeviceBackupOutcome::Failed);
  EXPECT_EQ(r.message, "the device backup failed: ERROR: device locked");
  EXPECT_EQ(runTool("exit 0").outcome, DeviceBackupOutcome::Written);
}

TEST_F(DeviceBackupDriverTest, APlantedRootOrAnIdentifierThatIsNoNameIsRefused) {
  const std::string started = tmp_.sub("started");
  const std::string program = tool("touch \"$T/started\"\nmkdir -p \"$ROOT/$UDID\"\n");
  const std::string elsewhere = tmp_.sub("elsewhere");
  fs::create_directory(elsewhere);
  fs::create_directory_symlink(elsewhere, root());
  DeviceBackupResult r = amd::DeviceBackupDriver(request(command(program))).run();
  EXPECT_EQ(r.outcome, DeviceBackupOutcome::Failed);
  EXPECT_EQ(r.message, "the device backup failed: " + root() + " is a symbolic link");
  EXPECT_FALSE(fs::exists(started));
  EXPECT_TRUE(fs::is_empty(elsewhere));

  fs::remove(root());
  udid_ = "../x";
  r = amd::DeviceBackupDriver(request(command(program))).run();
  EXPECT_EQ(r.outcome, DeviceBackupOutcome::Failed);
  EXPECT_EQ(r.message, "the device backup failed: the device identifier is not usable");
  EXPECT_EQ(r.backupFolder, "");
  EXPECT_FALSE(fs::exists(started));
  EXPECT_FALSE(fs::exists(root()));
}

TEST_F(DeviceBackupDriverTest, AStopEndsTheToolAndWhatItStartedPromptly) {
  // The tool's child holds the output pipe open; the tool ignores SIGTERM in the second run.
  for (const std::string& trap : std::vector<std::string>{"", "trap '' TERM\n"}) {
    fs::remove(tmp_.sub("child"));
    const std::string program = tool(trap +
                                     "sleep 30 &\necho $! >\"$T/child.new\"\n"
                                     "mv \"$T/child.new\" \"$T/child\"\n"
                                     "while :; do sleep 0.05; done\n");
    auto driver = std::make_shared<amd::DeviceBackupDriver>(request(command(program)));
    auto run = start(driver);
    ASSERT_TRUE(devicetest::waitFor([&] { return fs::exists(tmp_.sub("child")); }));
    const pid_t child = std::stoi(slurp(tmp_.sub("child")));
    const auto stopped = Clock::now();
    driver->requestStop();
    const DeviceBackupResult r = run.get();
    EXPECT_LT(Clock::now() - stopped, std::chrono::seconds(2)) << trap;
    EXPECT_EQ(r.outcome, DeviceBackupOutcome::Stopped);
    EXPECT_EQ(r.message, "the device backup was stopped");
    EXPECT_EQ(r.exit.signal, trap.empty() ? SIGTERM : SIGKILL);
    EXPECT_TRUE(devicetest::waitFor([&] { return hasEnded(child); }));
  }

  // Stopped before it ran: the tool is never started.
  auto driver =
      std::make_shared<amd::DeviceBackupDriver>(request(command(tool("touch \"$T/started\"\n"))));
  driver->requestStop();
  EXPECT_EQ(driver->run().outcome, DeviceBackupOutcome::Stopped);
  EXPECT_FALSE(fs::exists(tmp_.sub("started")));
}

// retrievo-sim-backup on a simulated sample device.
class SimulatedBackupToolTest : public DeviceBackupDriverTest {
 protected:
  void SetUp() override {
    std::string error;
    fixtures::SampleDeviceOptions options;
    ASSERT_TRUE(fixtures::buildSampleDevice(device_, options, &error)) << error;
    udid_ = fixtures::sampleBackupFolderName();
  }
  std::vector<std::string> simCommand(const std::string& seconds) const {
    auto argv = amd::backupToolCommand(root(), udid_, "simulated", RETRIEVO_TOOLS_DIR);
    argv.insert(argv.end(), {"--seconds", seconds});
    return argv;
  }

  std::string device_ = tmp_.sub("device");
  ScopedEnv devices_{"RETRIEVO_DEVICE", ("simulated:" + device_).c_str()};
  ScopedEnv noTool_{"RETRIEVO_BACKUP_TOOL", nullptr};
};

TEST_F(SimulatedBackupToolTest, WritesABackupOfTheDevicesFilesThatTheCatalogueReads) {
  const DeviceBackupResult r = amd::DeviceBackupDriver(request(simCommand("0"))).run();
  ASSERT_EQ(r.outcome, DeviceBackupOutcome::Written) << r.message;
  EXPECT_EQ(r.exit.code, 0);
  ASSERT_FALSE(posted_.values().empty());
  EXPECT_EQ(posted_.values().back(), amd::kBackupTickCap);  // "100% Finished"

  MzIOSDeviceController catalogue;
  catalogue.addDeviceNodeByPath(r.backupFolder);
  ASSERT_EQ(catalogue.count(), 1u);
  const MzIOSDeviceNode& node = *catalogue.arrangedObjects()[0];
  EXPECT_EQ(node.strDeviceName, "Emma's iPhone");
  EXPECT_EQ(node.strIOSVersion, "6.1.3");
  EXPECT_EQ(node.strDeviceSerial, "C39KQ7RMDTC2");

  // Every file of the device's data/ tree, under its domain and path, with its bytes.
  FileIndex index;
  ManifestReadOptions options;
  options.bIOSRecoveryMode = true;
  const ManifestReadResult manifest = scanDirAnalyThread(r.backupFolder, index, options);
  EXPECT_EQ(manifest.status, ManifestStatus::Read);
  EXPECT_EQ(manifest.manifestName, "Manifest.db");
  std::size_t deviceFiles = 0;
  for (const auto& entry : fs::recursive_directory_iterator(device_ + "/data"))
    deviceFiles += entry.is_regular_file() ? 1 : 0;
  ASSERT_EQ(index.size(), deviceFiles);
  for (const auto& record : index)
    EXPECT_EQ(slurp(record->fileKey),
              slurp(device_ + "/data/" + record->fileDomain + "/" + record->filePath))
        << record->filePath;
}

TEST_F(SimulatedBackupToolTest, ADeviceRemovedMidwayEndsTheBackupWithoutABackup) {
  auto driver = std::make_shared<amd::DeviceBackupDriver>(request(simCommand("4")));
  auto run = start(driver);
  ASSERT_TRUE(posted_.waitForValueAtLeast(1));
  fs::remove(device_ + "/present");
  const DeviceBackupResult r = run.get();
  EXPECT_EQ(r.outcome, DeviceBackupOutcome::Failed);
  EXPECT_EQ(r.exit.code, 1);
  EXPECT_EQ(r.message, "the device backup failed: device removed");
  EXPECT_FALSE(fs::exists(backupFolder() + "/Info.plist"));

  // Unknown device: the tool says so and fails.
  const CommandResult unknown = runCommand(std::string(RETRIEVO_TOOLS_DIR) + "/retrievo-sim-backup",
                                           {"--backup", "--root", root(), "--target", "ffff"},
                                           {"RETRIEVO_DEVICE=simulated:" + device_});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("No device found with udid ffff"), std::string::npos);
}

}  // namespace
