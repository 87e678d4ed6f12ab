// retrievo cloud, run as a user would run it, over a small script module: a wrong password,
// the list, a download with its scan, the earlier downloads, a scan of a download folder, and
// a serial that would lead out of the downloads root.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/cloud_module.h"
#include "support/run_command.h"

namespace {

namespace fs = std::filesystem;

struct CloudCli {
  TempDir tmp;
  CloudCli() {
    std::ofstream(tmp.sub("crypto.so")) << cloudtest::moduleText(3, false);
    fs::create_directories(tmp.sub("downloads/launchd"));
    fs::create_directories(tmp.sub("downloads/other"));
    std::ofstream(tmp.sub("password")) << "secret\n";
  }
  CommandResult run(std::vector<std::string> args, const std::string& password = "password") {
    for (const auto& a : {std::string("--account"), std::string("emma@example.com"),
                          std::string("--password-file"), tmp.sub(password)}) {
      if (args[1] != "downloads" && args[1] != "scan") args.push_back(a);
    }
    return runCommand(RETRIEVO_CLI_PATH, args,
                      {"RETRIEVO_CLOUD_MODULE=" + shellQuote(tmp.sub("crypto.so")),
                       "RETRIEVO_CLOUD_DOWNLOADS=" + shellQuote(tmp.sub("downloads"))});
  }
};

TEST(CliCloud, SignsInListsDownloadsAndScans) {
  CloudCli cli;
  std::ofstream(cli.tmp.sub("wrong")) << "guess\n";
  CommandResult r = cli.run({"cloud", "login"}, "wrong");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "retrievo: the account name or password is incorrect\n");

  r = cli.run({"cloud", "list"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Emma's iPhone  c0ffee01"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("../escape"), std::string::npos) << r.out;

  r = cli.run({"cloud", "download", "c0ffee01", "2", "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string folder = cli.tmp.sub("downloads/emma@example.com/c0ffee01_2");
  EXPECT_EQ(r.out.rfind("download: " + folder + "\n\nCategory", 0), 0u) << r.out;
  EXPECT_TRUE(fs::exists(folder + "/info.plist"));
  EXPECT_EQ(fs::file_size(folder + "/merge/" + std::string(39, '0') + "2"), 2000u);

  r = cli.run({"cloud", "downloads"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("17.2  downloaded"), std::string::npos) << r.out;

  r = cli.run({"cloud", "scan", folder, "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Category", 0), 0u) << r.out;

  r = cli.run({"cloud", "download", "../escape", "1"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("the download folder cannot be made"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(cli.tmp.sub("escape_1")));
  EXPECT_FALSE(fs::exists(cli.tmp.sub("downloads/escape_1")));
}

}  // namespace
