// The command line's catalogue commands, run as a user would run them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "backup_writer.h"
#include "catalogue/stored_file.h"
#include "support/run_command.h"

namespace {

CommandResult retrievo(const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {}) {
  return runCommand(RETRIEVO_CLI_PATH, args, env);
}

std::string writeBackup(const std::string& folder, fixtures::DeviceInfo device,
                        fixtures::ManifestLayout manifest = fixtures::ManifestLayout::Mbdb,
                        fixtures::StoredLayout stored = fixtures::StoredLayout::Flat) {
  fixtures::BackupWriter writer(folder);
  writer.setDevice(device);
  writer.setManifestLayout(manifest);
  writer.setStoredLayout(stored);
  writer.addDirectory("HomeDomain", "Library/SMS");
  writer.addFile("HomeDomain", "Library/SMS/sms.db", {'S', 'Q', 'L'});
  writer.addFile("CameraRollDomain", "Media/DCIM/100APPLE/IMG_0001.JPG", {0xFF, 0xD8, 0xFF});
  std::string error;
  EXPECT_TRUE(writer.write(&error)) << error;
  return folder;
}

TEST(CliList, TableAndJsonOfTheRoot) {
  TempDir root;
  fixtures::DeviceInfo a;
  a.deviceName = "Emma's iPhone";
  a.productType = "iPhone5,2";
  writeBackup(root.sub("aaaa"), a);
  fixtures::DeviceInfo b;
  b.deviceName = "Office iPad";
  b.productType = "iPad2,1";
  b.writeInfoPlist = false;
  b.buildVersion = "10B329";
  writeBackup(root.sub("bbbb"), b);

  CommandResult table = retrievo({"list", "--root", root.path()});
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("Emma's iPhone"), std::string::npos);
  EXPECT_NE(table.out.find("iPhone 5"), std::string::npos);
  EXPECT_NE(table.out.find("Office iPad"), std::string::npos);
  EXPECT_NE(table.out.find("10B329"), std::string::npos);

  // The environment names the root when --root is not given.
  CommandResult json = retrievo({"list", "--json"}, {"RETRIEVO_BACKUP_ROOT=" + root.path()});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  auto doc = nlohmann::json::parse(json.out);
  ASSERT_EQ(doc.size(), 2u);
  for (const auto& rec : doc) {
    for (const char* key :
         {"strDeviceName", "strDeviceSize", "strDeviceBackUpTime", "strDeviceSerial",
          "strDeviceType", "strIOSVersion", "deviceImage", "itunesVersion", "backUpFilePath"}) {
      EXPECT_TRUE(rec.contains(key)) << key;
    }
  }
  std::set<std::string> names{doc[0]["strDeviceName"], doc[1]["strDeviceName"]};
  EXPECT_TRUE(names.count("Office iPad"));
}

// The backup time is the one the backup was made, when Info.plist says it; the size is that
// of every stored file, the two-digit folders' too.
TEST(CliList, BackupTimeAndStoredSize) {
  TempDir root;
  fixtures::DeviceInfo dated;
  dated.deviceName = "Dated";
  const std::string folder = writeBackup(root.sub("dated"), dated, fixtures::ManifestLayout::Db,
                                         fixtures::StoredLayout::TwoDigitFolders);
  fixtures::DeviceInfo undated;
  undated.deviceName = "Undated";
  undated.lastBackupDate.reset();
  writeBackup(root.sub("undated"), undated);

  std::uint64_t stored = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (e.is_regular_file()) stored += e.file_size();
  }
  const std::vector<std::string> env{"TZ=UTC"};
  CommandResult json = retrievo({"list", "--json", "--root", root.path()}, env);
  ASSERT_EQ(json.exitCode, 0) << json.err;
  std::map<std::string, nlohmann::json> byName;
  for (const auto& rec : nlohmann::json::parse(json.out)) byName[rec["strDeviceName"]] = rec;
  ASSERT_EQ(byName.size(), 2u);
  EXPECT_EQ(byName["Dated"]["lastBackupDate"], fixtures::kBackupUnixTime);
  EXPECT_EQ(byName["Dated"]["storedBytes"], stored);
  EXPECT_TRUE(byName["Undated"]["lastBackupDate"].is_null());

  CommandResult table = retrievo({"list", "--root", root.path()}, env);
  ASSERT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("2013-05-31 11:33"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find(" " + std::to_string(stored) + " "), std::string::npos) << table.out;
  const std::string fileTime = byName["Undated"]["strDeviceBackUpTime"];
  EXPECT_NE(table.out.find(fileTime), std::string::npos) << table.out;
}

TEST(CliList, FoldersNamedByHandAndFailures) {
  TempDir tmp;
  std::string folder = writeBackup(tmp.sub("mine"), fixtures::DeviceInfo{});
  CommandResult one = retrievo({"list", "--json", folder});
  ASSERT_EQ(one.exitCode, 0) << one.err;
  EXPECT_EQ(nlohmann::json::parse(one.out).size(), 1u);

  CommandResult missing = retrievo({"list", "--root", tmp.sub("nowhere")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "retrievo: no such folder: " + tmp.sub("nowhere") + "\n");

  tmp.writeFile("plain/a", "a");
  tmp.writeFile("plain/b", "b");
  CommandResult plain = retrievo({"list", tmp.sub("plain")});
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_EQ(plain.err, "retrievo: not a device backup: " + tmp.sub("plain") + "\n");

  CommandResult empty = retrievo({"list", "--root", tmp.sub("plain")});
  EXPECT_EQ(empty.exitCode, 0);
  EXPECT_NE(empty.out.find("No device backups"), std::string::npos);
}

TEST(CliList, AnUnreadableBackupIsSkippedWithAWarning) {
  TempDir root;
  fixtures::DeviceInfo good;
  good.deviceName = "Good Phone";
  writeBackup(root.sub("good"), good);
  writeBackup(root.sub("hostile"), fixtures::DeviceInfo{});
  std::string nested = "<plist>";
  for (int i = 0; i < 100000; ++i) nested += "<array>";
  root.writeFile("hostile/Info.plist", nested);
  root.writeFile("hostile/Manifest.plist", nested);

  for (bool json : {false, true}) {
    std::vector<std::string> args{"list", "--root", root.path()};
    if (json) args.push_back("--json");
    CommandResult r = retrievo(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err,
              "retrievo: skipped " + root.sub("hostile") + ": Info.plist nested too deeply\n");
    EXPECT_NE(r.out.find("Good Phone"), std::string::npos);
    if (json) {
      EXPECT_EQ(nlohmann::json::parse(r.out).size(), 1u);
    }
  }

  // Named folders: each bad one is named, the good ones still listed, and the status fails.
  CommandResult r = retrievo({"list", "--json", root.sub("good"), root.sub("missing"),
                              root.sub("good/Info.plist"), root.sub("hostile")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "retrievo: no such folder: " + root.sub("missing") +
                       "\nretrievo: not a folder: " + root.sub("good/Info.plist") +
                       "\nretrievo: skipped " + root.sub("hostile") +
                       ": Info.plist nested too deeply\n");
  auto doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc.size(), 1u);
  EXPECT_EQ(doc[0]["strDeviceName"], "Good Phone");

  r = retrievo({"list", "--root", root.sub("good/Info.plist")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "retrievo: not a folder: " + root.sub("good/Info.plist") + "\n");
}

TEST(CliFiles, FileIndexOfBothLayouts) {
  TempDir tmp;
  const std::string smsKey = "3d0d7e5fb2ce288813306e4d4636395e047a3d28";

  std::string old = writeBackup(tmp.sub("old"), fixtures::DeviceInfo{});
  CommandResult r = retrievo({"files", old});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Library/SMS/sms.db"), std::string::npos);
  EXPECT_NE(r.out.find(old + "/" + smsKey), std::string::npos);
  EXPECT_NE(r.out.find("3 entries (Manifest.mbdb)"), std::string::npos);

  std::string current =
      writeBackup(tmp.sub("new"), fixtures::DeviceInfo{}, fixtures::ManifestLayout::Db,
                  fixtures::StoredLayout::TwoDigitFolders);
  r = retrievo({"files", "--json", current});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto doc = nlohmann::json::parse(r.out);
  ASSERT_EQ(doc.size(), 3u);
  EXPECT_EQ(doc[0]["fileDomain"], "HomeDomain");
  EXPECT_EQ(doc[0]["filePath"], "Library/SMS");
  EXPECT_EQ(doc[0]["exists"], false);  // a directory has no stored file
  EXPECT_EQ(doc[1]["fileKey"], current + "/3d/" + smsKey);
  EXPECT_EQ(doc[1]["exists"], true);
  EXPECT_EQ(doc[2]["fileDomain"], "CameraRollDomain");
}

TEST(CliFiles, RefusesWhatItCannotRead) {
  TempDir tmp;
  fixtures::DeviceInfo locked;
  locked.encrypted = true;
  std::string encrypted = writeBackup(tmp.sub("locked"), locked);
  CommandResult r = retrievo({"files", encrypted});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "retrievo: the backup is encrypted; give its password with --password-file FILE "
            "or RETRIEVO_BACKUP_PASSWORD: " + encrypted + "\n");
  EXPECT_EQ(r.out, "");
  // Listed like any other backup.
  EXPECT_EQ(retrievo({"list", encrypted}).exitCode, 0);

  r = retrievo({"files", tmp.sub("nowhere")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "retrievo: no such folder: " + tmp.sub("nowhere") + "\n");

  tmp.writeFile("plain/a", "a");
  tmp.writeFile("plain/b", "b");
  r = retrievo({"files", tmp.sub("plain")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "retrievo: not a device backup: " + tmp.sub("plain") + "\n");
}

TEST(CliUsage, HelpEverywhereAndBadUsage) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--help"}, {"list", "--help"}, {"files", "--help"}}) {
    CommandResult r = retrievo(args);
    EXPECT_EQ(r.exitCode, 0) << args.back();
    EXPECT_NE(r.out.find("Usage"), std::string::npos) << r.out;
  }
  EXPECT_EQ(retrievo({}).exitCode, 2);
  EXPECT_EQ(retrievo({"frobnicate"}).exitCode, 2);
  EXPECT_EQ(retrievo({"files"}).exitCode, 2);
  EXPECT_EQ(retrievo({"list", "--no-such-flag"}).exitCode, 2);
}

}  // namespace
