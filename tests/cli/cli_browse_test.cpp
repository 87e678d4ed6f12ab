// retrievo browse, run as a user would run it on builder-made backups.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "backup_builder.h"
#include "backup_writer.h"
#include "catalogue/stored_file.h"
#include "results/tree_controller.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/run_command.h"

namespace {

using nlohmann::json;

CommandResult retrievo(const std::vector<std::string>& args) {
  return runCommand(RETRIEVO_CLI_PATH, args);
}

json browseJson(const std::string& folder, const std::string& node) {
  CommandResult r = retrievo({"browse", folder, node, "--json"});
  EXPECT_EQ(r.exitCode, 0) << node << ": " << r.err;
  return r.exitCode == 0 ? json::parse(r.out) : json::object();
}

// Every file of the truth is found at its domain and device path with its size and its
// stored file (Manifest.db, stored files in two-digit folders; the edge cases below use
// Manifest.mbdb and flat files); the backup folder is not changed.
TEST(CliBrowse, EveryBackupFileAtItsPathWithItsSize) {
  TempDir tmp;
  const std::string folder = tmp.sub("Backup/" + fixtures::sampleBackupFolderName());
  fixtures::BackupBuildOptions options;
  options.manifest = fixtures::ManifestLayout::Db;
  options.layout = fixtures::StoredLayout::TwoDigitFolders;
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(fixtures::sampleDescription(), folder, options, &built, &error))
      << error;
  const auto before = folderFingerprint(folder);

  json top = browseJson(folder, "");
  EXPECT_EQ(top["path"], "Emma's iPhone");
  std::set<std::string> domains;
  for (const auto& f : built.truth["files"]) domains.insert(f["domain"]);
  std::vector<std::string> shown;
  for (const auto& d : top["folders"]) shown.push_back(d["fileName"]);
  EXPECT_EQ(std::set<std::string>(shown.begin(), shown.end()), domains);
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end(), [](const auto& a, const auto& b) {
    return compareTreeNames(a, b) < 0;
  }));
  EXPECT_EQ(top["allFiles"], built.truth["files"].size());

  // One listing per directory that holds files.
  std::map<std::string, json> listings;
  for (const auto& f : built.truth["files"]) {
    const std::string node = f["domain"].get<std::string>() + "/" + f["path"].get<std::string>();
    const std::string dir = node.substr(0, node.rfind('/'));
    if (!listings.contains(dir)) listings[dir] = browseJson(folder, dir);
    const json* found = nullptr;
    for (const auto& file : listings[dir]["fileChildren"]) {
      if (file["dirFilePath"] == node) found = &file;
    }
    ASSERT_NE(found, nullptr) << node;
    EXPECT_EQ((*found)["isFile"], true) << node;
    EXPECT_EQ((*found)["realFileSize"], f["bytes"]) << node;
    EXPECT_EQ((*found)["filePath"], storedFilePath(folder, f["file_key"])) << node;
  }
  EXPECT_EQ(folderFingerprint(folder), before);
}

class CliBrowseEdges : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = tmp_.sub("Backup/" + std::string(40, 'a'));
    fixtures::BackupWriter writer(folder_);
    fixtures::DeviceInfo device;
    device.deviceName = "Test iPhone";
    writer.setDevice(device);
    writer.addDirectory("HomeDomain", "Library");
    writer.addDirectory("HomeDomain", "Library/Empty");
    writer.addFile("HomeDomain", "Library/Preferences/com.apple.a.plist", bytes(2500));
    writer.addFile("HomeDomain", "Library/Preferences/.GlobalPreferences.plist", bytes(40));
    writer.addFile("HomeDomain", "Library/b/c.db", bytes(10));
    gone_ = writer.addFile("HomeDomain", "Library/b/gone.db", bytes(10));
    writer.addFile("HomeDomain", "Library/Aa/x", bytes(1));
    writer.addFile("HomeDomain", "top.plist", bytes(5));
    writer.addFile(".HiddenDomain", "Library/secret.db", bytes(7));
    std::string error;
    ASSERT_TRUE(writer.write(&error)) << error;
    std::error_code ec;
    std::filesystem::remove(gone_, ec);
  }
  static std::vector<std::uint8_t> bytes(std::size_t n) { return std::vector<std::uint8_t>(n, 7); }

  TempDir tmp_;
  std::string folder_;
  std::string gone_;
};

TEST_F(CliBrowseEdges, LevelsFoldersFilesAndTheDomainDot) {
  json top = browseJson(folder_, "");
  std::vector<std::string> domains;
  for (const auto& d : top["folders"]) domains.push_back(d["fileName"]);
  EXPECT_EQ(domains, (std::vector<std::string>{"HiddenDomain", "HomeDomain"}));
  EXPECT_EQ(top["allFiles"], 7);

  json home = browseJson(folder_, "HomeDomain");
  ASSERT_EQ(home["fileChildren"].size(), 1u);
  EXPECT_EQ(home["fileChildren"][0]["treefileName"], "top.plist");

  json library = browseJson(folder_, "HomeDomain/Library");
  std::vector<std::string> names;
  for (const auto& d : library["folders"]) names.push_back(d["fileName"]);
  EXPECT_EQ(names, (std::vector<std::string>{"Aa", "b", "Empty", "Preferences"}));
  EXPECT_EQ(library["files"], 0);
  EXPECT_EQ(library["allFiles"], 5);
  EXPECT_EQ(library["folders"][2]["allFiles"], 0);

  // The stored file of gone.db is missing: shown, size 0, not a stored file.
  json b = browseJson(folder_, "HomeDomain/Library/b");
  ASSERT_EQ(b["fileChildren"].size(), 2u);
  EXPECT_EQ(b["fileChildren"][1]["treefileName"], "gone.db");
  EXPECT_EQ(b["fileChildren"][1]["isFile"], false);
  EXPECT_EQ(b["fileChildren"][1]["fileSize"], "0.00B");
  EXPECT_EQ(b["fileChildren"][0]["isFile"], true);

  // A name after "/." is shown without its dot; the device's spelling finds it.
  json prefs = browseJson(folder_, "HomeDomain/Library/Preferences");
  ASSERT_EQ(prefs["fileChildren"].size(), 2u);
  EXPECT_EQ(prefs["fileChildren"][0]["fileSize"], "2.50K");
  EXPECT_EQ(browseJson(folder_,
                       "HomeDomain/Library/Preferences/.GlobalPreferences.plist")["fileChildren"][0]
                                                                                 ["treefileName"],
            "GlobalPreferences.plist");
  EXPECT_EQ(browseJson(folder_, ".HiddenDomain/Library")["fileChildren"][0]["treefileName"],
            "secret.db");

  CommandResult text = retrievo({"browse", folder_, "HomeDomain/Library/b"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("Test iPhone/HomeDomain/Library/b: 0 folders, 2 files"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("missing"), std::string::npos) << text.out;
}

TEST_F(CliBrowseEdges, TicksPropagateAndUnknownNodesFail) {
  CommandResult r =
      retrievo({"browse", folder_, "HomeDomain/Library", "--tick", "HomeDomain/Library/b", "--tick",
                "HomeDomain/Library/Preferences/com.apple.a.plist", "--json"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  json level = json::parse(r.out);
  EXPECT_EQ(level["ticked"], 3);
  EXPECT_EQ(level["isSelected"], 2);
  EXPECT_EQ(level["nodeIcon"], "selectedSome");
  EXPECT_EQ(level["folders"][1]["isSelected"], 1);  // b
  EXPECT_EQ(level["folders"][3]["isSelected"], 2);  // Preferences

  r = retrievo({"browse", folder_, "--tick", "HomeDomain"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("[-] Test iPhone:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("6 files ticked"), std::string::npos) << r.out;

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"browse", folder_, "HomeDomain/Library/nothing"},
        std::vector<std::string>{"browse", folder_, "--tick", "NoDomain/x"}}) {
    r = retrievo(args);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  r = retrievo({"browse", tmp_.path()});
  EXPECT_EQ(r.exitCode, 1);
}

}  // namespace
