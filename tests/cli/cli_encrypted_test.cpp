// Encrypted backups on the command line, as a user opens them: the same sample backup built
// plain and encrypted scans to the same document and recovers to the same bytes, in both
// manifest generations; wrong, missing and damaged keys give one line and the right exit code,
// and nothing is written.
#include <gtest/gtest.h>
#include <plist/plist.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "backup_builder.h"
#include "backup_encryption.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr const char* kPassword = "correct horse battery staple";

CommandResult retrievo(const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {}) {
  return runCommand(RETRIEVO_CLI_PATH, args, env);
}

fixtures::BackupBuildOptions optionsFor(int generation, bool encrypted) {
  fixtures::BackupBuildOptions options =
      generation == 17 ? fixtures::currentDeviceBackup() : fixtures::BackupBuildOptions{};
  if (generation != 17) options.generation = generation;
  if (encrypted) options.encryption = fixtures::BackupEncryption{.password = kPassword};
  return options;
}

std::string build(const TempDir& tmp, const std::string& name, int generation, bool encrypted) {
  const std::string folder = tmp.sub(name);
  fixtures::BackupBuildOptions options = optionsFor(generation, encrypted);
  // Sync software of the older layout can record a stale size: the file ends by its padding.
  if (encrypted && generation != 17) {
    options.recordedSizes[{"HomeDomain", "Library/SMS/sms.db"}] = 4096;
  }
  std::string error;
  EXPECT_TRUE(fixtures::buildSampleBackup(folder, options, nullptr, &error)) << error;
  return folder;
}

std::string passwordFile(const TempDir& tmp, const std::string& password) {
  const std::string path = tmp.sub("password-" + std::to_string(password.size()));
  std::ofstream(path) << password << "\n";
  return path;
}

// The scan document with the backup's own folder written as "BACKUP".
std::string documentOf(const CommandResult& r, const std::string& folder) {
  json doc = json::parse(r.out);
  doc.erase("backup");  // the folder, and its size on disk
  std::string text = doc.dump(1);
  for (std::size_t at; (at = text.find(folder)) != std::string::npos;) {
    text.replace(at, folder.size(), "BACKUP");
  }
  return text;
}

// Every file under `folder` by its relative path, with its bytes.
std::map<std::string, std::string> filesUnder(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[fs::relative(entry.path(), folder).string()] =
        std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

TEST(CliEncrypted, BothGenerationsScanAndRecoverAsTheirPlainTwin) {
  for (int generation : {17, 6}) {
    SCOPED_TRACE(generation);
    TempDir tmp;
    const std::string plain = build(tmp, "plain", generation, false);
    const std::string locked = build(tmp, "locked", generation, true);
    const std::string password = passwordFile(tmp, kPassword);
    const std::string privateRoot = tmp.sub("private");
    fs::create_directories(privateRoot);
    const std::vector<std::string> env = {"TMPDIR=" + privateRoot};
    const auto before = folderFingerprint(locked);

    const CommandResult p = retrievo({"scan", plain, "--json", "-", "-q"});
    const CommandResult e =
        retrievo({"scan", locked, "--password-file", password, "--json", "-", "-q"}, env);
    ASSERT_EQ(e.exitCode, 0) << e.err;
    EXPECT_EQ(e.err, "retrievo: deriving the backup key…\n");
    EXPECT_EQ(documentOf(e, locked), documentOf(p, plain));

    const CommandResult rp = retrievo({"recover", plain, "--all", "--files", "HomeDomain/Library",
                                       "--out", tmp.sub("out-plain"), "-q"});
    const CommandResult re = retrievo(
        {"recover", locked, "--all", "--files", "HomeDomain/Library", "--out",
         tmp.sub("out-locked"), "-q"},
        {"RETRIEVO_BACKUP_PASSWORD='" + std::string(kPassword) + "'", "TMPDIR=" + privateRoot});
    ASSERT_EQ(re.exitCode, 0) << re.err;
    ASSERT_EQ(rp.exitCode, 0) << rp.err;
    EXPECT_EQ(filesUnder(tmp.sub("out-locked")), filesUnder(tmp.sub("out-plain")));

    // The backup is evidence, the password never shows, and the decrypted copies are gone.
    EXPECT_EQ(folderFingerprint(locked), before);
    for (const auto* r : {&e, &re}) EXPECT_EQ(r->out.find(kPassword), std::string::npos);
    EXPECT_EQ(re.err.find(kPassword), std::string::npos);
    EXPECT_TRUE(fs::is_empty(privateRoot));
  }
}

// Rewrites Manifest.plist of `folder` after `change` edits its dictionary.
void editManifestPlist(const std::string& folder, const std::function<void(plist_t)>& change) {
  const std::string path = folder + "/Manifest.plist";
  std::ifstream in(path, std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  plist_t dict = nullptr;
  plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &dict);
  ASSERT_NE(dict, nullptr);
  change(dict);
  char* out = nullptr;
  std::uint32_t length = 0;
  plist_to_bin(dict, &out, &length);
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(out, length);
  plist_to_bin_free(out);
  plist_free(dict);
}

void cutData(plist_t dict, const char* key, std::size_t keep) {
  char* data = nullptr;
  std::uint64_t length = 0;
  plist_get_data_val(plist_dict_get_item(dict, key), &data, &length);
  plist_dict_set_item(dict, key, plist_new_data(data, std::min<std::uint64_t>(keep, length)));
  free(data);
}

TEST(CliEncrypted, WrongMissingAndDamagedKeysGiveOneLineAndWriteNothing) {
  TempDir tmp;
  const std::string locked = build(tmp, "locked", 17, true);
  const std::string right = passwordFile(tmp, kPassword);
  const std::string wrong = passwordFile(tmp, "hunter2");
  const std::string json = tmp.sub("doc.json");

  CommandResult r = retrievo({"scan", locked, "--password-file", wrong, "--json", json, "-q"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.err, "retrievo: deriving the backup key…\nretrievo: wrong backup password: " +
                       locked + "\n");
  EXPECT_FALSE(fs::exists(json));
  r = retrievo({"show", locked, "contacts"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("give its password with --password-file"), std::string::npos) << r.err;
  r = retrievo({"list", locked, "--json"});
  ASSERT_EQ(r.exitCode, 0);
  EXPECT_EQ(json::parse(r.out)[0]["encrypted"], true);

  // A database whose padding is wrong is named; the rest of the scan goes on.
  const std::string sms = locked + "/3d/3d0d7e5fb2ce288813306e4d4636395e047a3d28";
  ASSERT_TRUE(fs::exists(sms));
  fs::resize_file(sms, fs::file_size(sms) - 5);
  r = retrievo({"scan", locked, "--password-file", right, "--json", "-", "-q"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("cannot decrypt the database (it does not decrypt: its padding is wrong)"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(json::parse(r.out)["counts"]["contacts"]["live"], 5);

  // A damaged key bag, a manifest key cut short, a manifest that is no database: exit 1.
  const std::vector<std::pair<std::function<void(plist_t)>, std::string>> damages = {
      {[](plist_t d) { cutData(d, "BackupKeyBag", 30); }, "the backup key bag is damaged"},
      {[](plist_t d) { cutData(d, "ManifestKey", 20); },
       "the ManifestKey is unusable: the wrapped key is 16 bytes long, not 40"},
  };
  for (const auto& [damage, message] : damages) {
    TempDir each;
    const std::string copy = build(each, "locked", 17, true);
    editManifestPlist(copy, damage);
    r = retrievo({"scan", copy, "--password-file", right, "-q"});
    EXPECT_EQ(r.exitCode, 1) << message;
    EXPECT_NE(r.err.find("retrievo: cannot open the encrypted backup: " + message),
              std::string::npos)
        << r.err;
  }
  {
    TempDir each;
    const std::string copy = build(each, "locked", 17, true);
    std::ofstream(copy + "/Manifest.db", std::ios::trunc) << std::string(4096, 'x');
    r = retrievo({"scan", copy, "--password-file", right, "-q"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Manifest.db does not decrypt"), std::string::npos) << r.err;
  }
}

}  // namespace
