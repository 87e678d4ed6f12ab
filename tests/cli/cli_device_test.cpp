// retrievo device list, info and photos, run as a user would run them against a simulated
// device (RETRIEVO_DEVICE), and without one.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "fixture_support.h"
#include "sample_device.h"
#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

class CliDevice : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new TempDir;
    fixtures::SampleDeviceOptions options;
    options.withData = false;
    options.values["PhoneNumber"] = 46704125583ULL;  // a number where a text belongs
    std::string error;
    ASSERT_TRUE(fixtures::buildSampleDevice(tmp_->sub("device"), options, &error)) << error;
    // A device name that is not UTF-8 and holds a terminal escape.
    ASSERT_TRUE(fixtures::buildSampleDevice(tmp_->sub("hostile"), options, &error)) << error;
    std::string values = slurp(tmp_->sub("hostile/values.plist"));
    const std::size_t name = values.find("Emma's iPhone");
    ASSERT_NE(name, std::string::npos);
    values.replace(name, 13, "Emma\xff\x1b[31m");
    ASSERT_TRUE(fixtures::writeFileText(tmp_->sub("hostile/values.plist"), values));
    options.present = false;
    ASSERT_TRUE(fixtures::buildSampleDevice(tmp_->sub("unplugged"), options, &error)) << error;
  }
  static void TearDownTestSuite() {
    delete tmp_;
    tmp_ = nullptr;
  }

  static CommandResult retrievo(const std::vector<std::string>& args,
                                const std::string& device = "device") {
    return runCommand(RETRIEVO_CLI_PATH, args,
                      {"RETRIEVO_DEVICE=" + shellQuote("simulated:" + tmp_->sub(device))});
  }

  static TempDir* tmp_;
};

TempDir* CliDevice::tmp_ = nullptr;

TEST_F(CliDevice, ListsAndDescribesTheAttachedDevice) {
  const CommandResult list = retrievo({"device", "list", "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const json devices = json::parse(list.out);  // stdout holds the JSON alone
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["position"], 1);
  EXPECT_EQ(devices[0]["name"], "Emma's iPhone");
  EXPECT_EQ(devices[0]["model"], "iPhone5,2");
  EXPECT_EQ(devices[0]["version"], "6.1.3");
  const std::string udid = devices[0]["udid"];
  EXPECT_EQ(udid.size(), 40u);

  const CommandResult info = retrievo({"device", "info", "--udid", udid});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  for (const char* shown : {"Emma's iPhone", "iPhone5,2", "10B329", "C39KQ7RMDTC2",
                            "BatteryCurrentCapacity", "76", "TotalDiskCapacity", "16.00G"})
    EXPECT_NE(info.out.find(shown), std::string::npos) << shown;
  EXPECT_EQ(info.out.find("46704125583"), std::string::npos);  // not a text: not shown

  const CommandResult values = retrievo({"device", "info", "--json"});
  ASSERT_EQ(values.exitCode, 0) << values.err;
  const json v = json::parse(values.out);
  EXPECT_EQ(v["UniqueDeviceID"], udid);
  EXPECT_TRUE(v["PhoneNumber"].is_null());
  EXPECT_EQ(v["battery"]["BatteryIsCharging"], false);
  EXPECT_EQ(v["diskUsage"]["AmountDataAvailable"], 9250000000ULL);

  const CommandResult unknown = retrievo({"device", "info", "--udid", "0000"});
  EXPECT_EQ(unknown.exitCode, 1);
  EXPECT_NE(unknown.err.find("0000"), std::string::npos);
}

TEST_F(CliDevice, PhotosCopiesEveryMediaFileAndNeverReplacesOne) {
  const std::string out = tmp_->sub("out");
  const CommandResult first = retrievo({"device", "photos", "--out", out});
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_NE(first.out.find("copied: 10 files"), std::string::npos) << first.out;
  EXPECT_NE(first.err.find("100%"), std::string::npos) << first.err;

  std::map<std::string, std::string> media;  // name -> bytes, of the folders the scan reads
  for (const auto& e : fs::recursive_directory_iterator(tmp_->sub("device/media"))) {
    const std::string path = e.path().string();
    if (e.is_regular_file() && path.find(".MISC") == std::string::npos)
      media[e.path().filename()] = slurp(path);
  }
  ASSERT_EQ(media.size(), 10u);
  for (const auto& [name, bytes] : media) EXPECT_EQ(slurp(out + "/" + name), bytes) << name;

  // A second run into the same folder keeps the first copies and adds ten more.
  const CommandResult second = retrievo({"device", "photos", "--out", out, "--quiet"});
  ASSERT_EQ(second.exitCode, 0) << second.err;
  std::size_t files = 0;
  for (const auto& e : fs::directory_iterator(out)) files += e.is_regular_file() ? 1 : 0;
  EXPECT_EQ(files, 20u);
  for (const auto& [name, bytes] : media) EXPECT_EQ(slurp(out + "/" + name), bytes) << name;
}

TEST_F(CliDevice, AHostileDeviceNameNeitherEndsNorSteersTheOutput) {
  const CommandResult listed = retrievo({"device", "list", "--json"}, "hostile");
  ASSERT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_EQ(json::parse(listed.out)[0]["name"], "Emma\xEF\xBF\xBD\x1b[31m");
  const CommandResult table = retrievo({"device", "list"}, "hostile");
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("Emma\\xff\\x1b[31m"), std::string::npos) << table.out;
}

TEST_F(CliDevice, EverySubcommandSaysWhenNoDeviceIsConnected) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"device", "list"},
                                               {"device", "info"},
                                               {"device", "backup", "--root", tmp_->sub("none")},
                                               {"device", "photos", "--out", tmp_->sub("none")}}) {
    const CommandResult r = retrievo(args, "unplugged");
    EXPECT_EQ(r.exitCode, 1) << args[1];
    EXPECT_NE(r.err.find("no device connected"), std::string::npos) << args[1] << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << args[1] << ": " << r.out;
  }
}

TEST(CliDeviceBackup, BacksTheDeviceUpThenScansItOrSaysWhyNot) {
  TempDir tmp;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleDevice(tmp.sub("device"), {}, &error)) << error;
  const std::string tool =
      tmp.writeFile("tool.sh", "#!/bin/sh\nexec '" + std::string(RETRIEVO_TOOLS_DIR) +
                                   "/retrievo-sim-backup' \"$@\" --seconds 0\n");
  fs::permissions(tool, fs::perms::owner_all);
  const std::string device = "RETRIEVO_DEVICE=" + shellQuote("simulated:" + tmp.sub("device"));

  const CommandResult made =
      runCommand(RETRIEVO_CLI_PATH, {"device", "backup", "--root", tmp.sub("Backup")},
                 {device, "RETRIEVO_BACKUP_TOOL=" + shellQuote(tool)});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const std::string folder = tmp.sub("Backup/5f2e8c1d9a7b4e6f0c3d2b1a9e8f7d6c5b4a3f2e");
  EXPECT_NE(made.out.find("backup: " + folder), std::string::npos) << made.out;
  EXPECT_NE(made.out.find("contacts       5     2"), std::string::npos) << made.out;
  EXPECT_TRUE(fs::exists(folder + "/Manifest.db"));

  // A tool that fails names its reason and leaves no scan behind.
  const std::string broken = tmp.writeFile(
      "broken.sh", "#!/bin/sh\necho 'ERROR: Could not connect to lockdownd' >&2\nexit 1\n");
  fs::permissions(broken, fs::perms::owner_all);
  const CommandResult failed =
      runCommand(RETRIEVO_CLI_PATH, {"device", "backup", "--root", tmp.sub("Other")},
                 {device, "RETRIEVO_BACKUP_TOOL=" + shellQuote(broken)});
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_NE(failed.err.find("retrievo: the device backup failed: ERROR: Could not connect to "
                            "lockdownd"),
            std::string::npos)
      << failed.err;
  EXPECT_EQ(failed.out.find("Category"), std::string::npos);
}

}  // namespace
