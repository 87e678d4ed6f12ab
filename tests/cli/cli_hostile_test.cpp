// The command line on hostile and careless input: nothing written into the backup or through a
// link, damaged databases named, control characters never reaching the terminal raw.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "backup_writer.h"
#include "support/folder_hash.h"
#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

CommandResult retrievo(const std::vector<std::string>& args,
                       const std::vector<std::string>& env = {}) {
  return runCommand(RETRIEVO_CLI_PATH, args, env);
}

// A backup whose messages database is three bytes and whose notes database is the first page
// of a larger one; one device path holds an ESC sequence.
std::string damagedBackup(TempDir& tmp) {
  fixtures::BackupWriter writer(tmp.sub("backup"));
  writer.addFile("HomeDomain", "Library/SMS/sms.db", {'S', 'Q', 'L'});
  std::vector<std::uint8_t> notes(4096, 0);
  const std::string header("SQLite format 3\0", 16);
  std::copy(header.begin(), header.end(), notes.begin());
  notes[16] = 0x10;  // 4096-byte pages
  notes[31] = 9;     // of nine pages, eight of them missing
  writer.addFile("HomeDomain", "Library/Notes/notes.sqlite", notes);
  writer.addFile("HomeDomain", "Library/\x1b[2Jclear\x07", {'x'});
  std::string error;
  EXPECT_TRUE(writer.write(&error)) << error;
  return writer.folder();
}

TEST(CliHostile, NothingIsWrittenIntoTheBackupOrThroughALink) {
  TempDir tmp;
  const std::string backup = damagedBackup(tmp);
  const std::string victim = tmp.writeFile("victim.json", "keep");
  fs::create_symlink(victim, tmp.sub("link.json"));
  const auto before = folderFingerprint(backup);

  CommandResult r = retrievo({"scan", backup, "--json", backup + "/Manifest.mbdb", "--quiet"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "retrievo: will not write inside the backup folder: " + backup +
                       "/Manifest.mbdb\n");
  // ".." and a link to the backup lead into it too.
  fs::create_symlink(backup, tmp.sub("alias"));
  for (const std::string& target : {backup + "/../backup/new.json", tmp.sub("alias/new.json")}) {
    EXPECT_EQ(retrievo({"scan", backup, "--json", target, "--quiet"}).exitCode, 2) << target;
    EXPECT_EQ(retrievo({"hex", backup, "notes", "--export", target}).exitCode, 2) << target;
  }
  r = retrievo({"scan", backup, "--json", tmp.sub("link.json"), "--quiet"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "retrievo: will not write through a symbolic link: " + tmp.sub("link.json") +
                       "\n");
  EXPECT_EQ(slurp(victim), "keep");
  EXPECT_EQ(folderFingerprint(backup), before);
}

TEST(CliHostile, DamagedDatabasesAreNamedAndAnUnusableTemporaryFolderFails) {
  TempDir tmp;
  const std::string backup = damagedBackup(tmp);
  CommandResult r = retrievo({"scan", backup, "--json", "-", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json doc = json::parse(r.out);
  std::set<std::string> named;
  for (const auto& p : doc["problems"]) named.insert(p["file"].get<std::string>());
  EXPECT_EQ(named, (std::set<std::string>{"HomeDomain-Library/SMS/sms.db",
                                          "HomeDomain-Library/Notes/notes.sqlite"}));
  EXPECT_NE(r.err.find("retrievo: the database is cut short (4096 of 36864 bytes): "
                       "HomeDomain-Library/Notes/notes.sqlite\n"),
            std::string::npos)
      << r.err;

  r = retrievo({"scan", backup, "--quiet"}, {"TMPDIR=" + tmp.sub("no-such-folder")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("retrievo: the scan could read no database"), std::string::npos) << r.err;
}

TEST(CliHostile, ControlCharactersAreShownEscaped) {
  TempDir tmp;
  const std::string backup = damagedBackup(tmp);
  CommandResult r = retrievo({"files", backup});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(r.out.find('\x07'), std::string::npos);
  EXPECT_NE(r.out.find("Library/\\x1b[2Jclear\\x07"), std::string::npos) << r.out;
  r = retrievo({"browse", backup, "HomeDomain/Library"});
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  r = retrievo({"bad\x1b[2Jcommand"});
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
}

TEST(CliHostile, MessagesSayWhatIsWrong) {
  TempDir tmp;
  const std::string backup = damagedBackup(tmp);
  CommandResult r = retrievo({"help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("Usage: retrievo [OPTIONS] SUBCOMMAND"), std::string::npos) << r.out;
  EXPECT_EQ(retrievo({"help", "recover"}).out, retrievo({"recover", "--help"}).out);
  r = retrievo({"frobnicate"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err.rfind("retrievo: unknown command: frobnicate (commands: list, files,", 0), 0u)
      << r.err;
  EXPECT_EQ(retrievo({"files", backup, "-v"}).exitCode, 0);
  r = retrievo({"hex", backup, "notes", "--offset", "-5"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "retrievo: offset must not be negative\n");
  r = retrievo({"files", backup + "/Manifest.plist"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "retrievo: not a folder: " + backup + "/Manifest.plist\n");
}

}  // namespace
