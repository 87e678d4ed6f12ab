// retrievo cloud login | list | download | downloads | scan: the cloud source on the command
// line. Each run signs in anew (nothing is stored but the downloads and their records); the
// password is read from a file, RETRIEVO_CLOUD_PASSWORD or the terminal, never from argv.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "base/conversions.h"
#include "base/notification_center.h"
#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/progress_line.h"
#include "cli/stop_signals.h"
#include "cli/table_printer.h"
#include "cli/terminal_text.h"
#include "cloud/cloud_device_controller.h"
#include "cloud/cloud_folders.h"
#include "cloud/cloud_script_bridge.h"
#include "cloud/download_progress.h"
#include "cloud/download_record.h"

namespace cli {
namespace {

struct CloudOptions {
  std::string account;
  std::string passwordFile;
  std::string root;  // the downloads root; empty: cloud::cloudDownloadRoot()
  std::string serial;
  std::int32_t number = 0;
  std::string folder;
  std::string json;
  bool quiet = false;
};

std::string rootOf(const CloudOptions& opt) {
  return opt.root.empty() ? cloud::cloudDownloadRoot() : opt.root;
}

// Signs in to `opt.account` through a fresh interpreter and reads the account's backups into
// `catalogue`. kExitOk, or the exit code after a one-line reason.
int signInAndList(const CloudOptions& opt, cloud::CloudScriptBridge& bridge,
                  MzICloudDeviceController& catalogue) {
  std::string problem;
  std::optional<std::string> password =
      cloudAccountPassword(opt.account, opt.passwordFile, &problem);
  if (!password) {
    std::cerr << "retrievo: " << terminalSafe(problem) << '\n';
    return kExitFailure;
  }
  bridge.setModuleFile(cloud::moduleResourcePath());
  if (bridge.start() != 0) {
    std::cerr << "retrievo: the cloud module could not be started: "
              << terminalSafe(bridge.moduleFile()) << '\n';
    return kExitFailure;
  }
  const std::int32_t signedIn = bridge.authroize(opt.account, *password);
  std::fill(password->begin(), password->end(), '\0');
  password.reset();
  if (signedIn != 0) {
    std::cerr << "retrievo: the account name or password is incorrect\n";
    return kExitFailure;
  }
  std::string text;
  if (bridge.query(text) != 0) {
    std::cerr << "retrievo: the cloud module gave no backup list\n";
    return kExitFailure;
  }
  std::string why;
  const std::optional<nlohmann::json> list = parseCloudBackupList(text, &why);
  if (!list) {
    std::cerr << "retrievo: the backup list cannot be read: " << terminalSafe(why) << '\n';
    return kExitFailure;
  }
  catalogue.removeAllObjects();
  catalogue.addDeviceNodeByDictionary(&*list);
  return kExitOk;
}

void printBackups(const MzICloudDeviceController& catalogue, bool downloads) {
  if (catalogue.count() == 0) {
    std::cout << (downloads ? "no earlier downloads\n" : "no backups in this account\n");
    return;
  }
  TablePrinter table(
      downloads
          ? std::vector<std::string>{"Name", "Serial", "Date", "Size", "iOS", "State", "Folder"}
          : std::vector<std::string>{"Name", "Serial", "Number", "Date", "Size", "iOS", "Device"});
  for (const auto& node : catalogue.arrangedObjects()) {
    if (downloads) {
      table.addRow({node->strDeviceName, node->strDeviceSerial, node->strDeviceBackUpTime,
                    node->strDeviceSize, node->strIOSVersion,
                    node->haveDownload ? "downloaded" : "stopped",
                    std::filesystem::path(node->backUpFilePath).parent_path().string()});
    } else {
      table.addRow({node->strDeviceName, node->strDeviceSerial, std::to_string(node->backupID),
                    node->strDeviceBackUpTime, node->strDeviceSize, node->strIOSVersion,
                    node->deviceImage.value_or("")});
    }
  }
  table.print(std::cout);
}

int runLogin(const CloudOptions& opt, bool announce) {
  cloud::CloudScriptBridge bridge;
  MzICloudDeviceController catalogue;
  if (int code = signInAndList(opt, bridge, catalogue); code != kExitOk) return code;
  if (announce) std::cout << "signed in as " << terminalSafe(opt.account) << "\n\n";
  printBackups(catalogue, false);
  bridge.close();
  return kExitOk;
}

// Shows the download's progress on stderr: the bytes of the files finished so far against the
// backup's size.
class DownloadProgress {
 public:
  DownloadProgress(bool quiet, const MzIOSDeviceNode& node)
      : line_(quiet, "downloading"), node_(node) {}
  void show(std::int64_t bytes) {
    const std::uint64_t done = static_cast<std::uint64_t>(std::max<std::int64_t>(bytes, 0));
    const std::uint64_t total = node_.backupFileSize;
    const int percent =
        total == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(100, done * 100 / total));
    line_.show(percent, "  " + sizeText(done) + "/" + terminalSafe(node_.strDeviceSize));
  }
  void finish() { line_.finish(); }

 private:
  ProgressLine line_;
  const MzIOSDeviceNode& node_;
};

int runDownload(const CloudOptions& opt) {
  const std::string root = rootOf(opt);
  std::shared_ptr<MzIOSDeviceNode> node;
  std::string folder;
  bool stopped = false;
  {
    StopSignals signals;
    cloud::CloudScriptBridge bridge;
    MzICloudDeviceController catalogue;
    if (int code = signInAndList(opt, bridge, catalogue); code != kExitOk) return code;
    for (const auto& candidate : catalogue.arrangedObjects()) {
      if (candidate->strDeviceSerial == opt.serial && candidate->backupID == opt.number) {
        node = candidate;
        break;
      }
    }
    if (!node) {
      std::cerr << "retrievo: the account has no backup " << terminalSafe(opt.serial) << " "
                << opt.number << " (see retrievo cloud list)\n";
      return kExitFailure;
    }
    if (bridge.geturls(node->strDeviceSerial, node->backupID) != 0) {
      std::cerr << "retrievo: the cloud module could not prepare the backup's files\n";
      return kExitFailure;
    }
    if (std::string refusal =
            cloud::makeDownloadFolder(root, opt.account, node->strDeviceSerial, node->backupID);
        !refusal.empty()) {
      std::cerr << "retrievo: the download folder cannot be made: " << terminalSafe(refusal)
                << '\n';
      return kExitFailure;
    }
    folder = cloud::downloadFolder(root, opt.account, node->strDeviceSerial, node->backupID);
    if (!opt.quiet) std::cerr << "retrievo: downloading into " << terminalSafe(folder) << "\n";

    DownloadProgress progress(opt.quiet, *node);
    NotificationCenter center;
    center.addObserver(cloud::kDownloadProgressNotification, [&progress](const std::any& o) {
      if (const auto* bytes = std::any_cast<std::int64_t>(&o)) progress.show(*bytes);
    });
    cloud::resetDownloadProgress();
    cloud::setDownloadProgressCenter(&center);
    // Ctrl-C stops the download as the stop button does: the module is told at its next
    // progress call, and what has arrived stays and is scanned.
    std::atomic<bool> done{false};
    std::thread watcher([&done] {
      while (!done.load()) {
        if (StopSignals::received() != 0) {
          cloud::requestDownloadStop();
          return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
    const std::int32_t code = bridge.download(folder, cloud::icloudDownloadProgress);
    done.store(true);
    watcher.join();
    progress.finish();
    cloud::setDownloadProgressCenter(nullptr);
    bridge.close();
    stopped = cloud::downloadStopRequested();
    if (code != 0 && !stopped) {
      std::cerr << "retrievo: Failed to download the iCloud backup, please try again or later.\n";
      return kExitFailure;
    }
    const std::string problem = cloud::writeDownloadRecord(cloud::downloadRecordPath(folder),
                                                           cloud::downloadRecordFor(*node));
    if (!problem.empty()) {
      std::cerr << "retrievo: the download record was not written: " << terminalSafe(problem)
                << '\n';
    }
  }
  if (stopped) {
    std::cout << "stopped: " << terminalSafe(folder) << " keeps what arrived\n\n" << std::flush;
    StopSignals::clear();
  } else {
    std::cout << "download: " << terminalSafe(folder) << "\n\n" << std::flush;
  }
  node->haveDownload = !stopped;
  return runCloudScan(cloud::mergeFolder(folder), *node, opt.json, opt.quiet);
}

int runDownloads(const CloudOptions& opt) {
  MzICloudDeviceController catalogue;
  catalogue.addDownloadNodeByFilePath(rootOf(opt));
  printBackups(catalogue, true);
  return kExitOk;
}

int runScanFolder(const CloudOptions& opt) {
  // A download folder (holding "merge" and its record) or its "merge" folder.
  std::filesystem::path folder(opt.folder);
  std::error_code ec;
  if (folder.filename() != "merge" && std::filesystem::is_directory(folder / "merge", ec)) {
    folder /= "merge";
  }
  if (!std::filesystem::is_directory(folder, ec)) {
    std::cerr << "retrievo: not a downloaded cloud backup: " << terminalSafe(opt.folder) << '\n';
    return kExitFailure;
  }
  const std::string backupFolder = folder.parent_path().string();
  const MzIOSDeviceNode record =
      downloadNodeFor(backupFolder, folder.parent_path().parent_path().filename().string());
  return runCloudScan(folder.string(), record, opt.json, opt.quiet);
}

void addAccountOptions(CLI::App* cmd, CloudOptions& opt) {
  cmd->add_option("--account", opt.account, "The cloud account's name")->required();
  cmd->add_option("--password-file", opt.passwordFile,
                  "Read the account's password from the first line of FILE (else from "
                  "RETRIEVO_CLOUD_PASSWORD, else asked on the terminal)");
}

void addOutputOptions(CLI::App* cmd, CloudOptions& opt) {
  cmd->add_option("--json", opt.json,
                  "Also write the whole result as JSON to FILE, replacing it (\"-\" for stdout "
                  "only)");
  cmd->add_flag("-q,--quiet", opt.quiet, "No progress on stderr");
}

const char* kRootHelp =
    "The folder downloads are kept in, as ROOT/ACCOUNT/SERIAL_NUMBER (default "
    "$RETRIEVO_CLOUD_DOWNLOADS, else /var/tmp)";

}  // namespace

void addCloudCommand(CLI::App& app) {
  CLI::App* cloud = app.add_subcommand(
      "cloud",
      "Cloud backups: sign in, list an account's backups, download one and scan it. The "
      "cloud module is crypto.so beside the program (RETRIEVO_CLOUD_MODULE names another); "
      "ours serves the store in RETRIEVO_CLOUD_STORE.");
  cloud->require_subcommand(1);

  auto login = std::make_shared<CloudOptions>();
  CLI::App* cmd = cloud->add_subcommand("login", "Sign in and print the account's backups");
  addAccountOptions(cmd, *login);
  cmd->callback([login] { exitCode() = runLogin(*login, true); });

  auto list = std::make_shared<CloudOptions>();
  cmd = cloud->add_subcommand("list", "Print the account's backups (signs in first)");
  addAccountOptions(cmd, *list);
  cmd->callback([list] { exitCode() = runLogin(*list, false); });

  auto download = std::make_shared<CloudOptions>();
  cmd = cloud->add_subcommand(
      "download",
      "Sign in, download the backup SERIAL NUMBER (as cloud list shows them) and scan it as "
      "scan does. Ctrl-C stops the download; what has arrived is kept and scanned.");
  cmd->add_option("SERIAL", download->serial, "The device's serial (udid)")->required();
  cmd->add_option("NUMBER", download->number, "The backup's number")->required();
  addAccountOptions(cmd, *download);
  cmd->add_option("--root", download->root, kRootHelp);
  addOutputOptions(cmd, *download);
  cmd->callback([download] { exitCode() = runDownload(*download); });

  auto downloads = std::make_shared<CloudOptions>();
  cmd =
      cloud->add_subcommand("downloads", "List the backups downloaded earlier (no sign-in needed)");
  cmd->add_option("--root", downloads->root, kRootHelp);
  cmd->callback([downloads] { exitCode() = runDownloads(*downloads); });

  auto scan = std::make_shared<CloudOptions>();
  cmd = cloud->add_subcommand("scan",
                              "Scan a downloaded backup (its folder or its merge folder) and "
                              "print the records found per category, as scan does");
  cmd->add_option("FOLDER", scan->folder, "The download folder")->required();
  addOutputOptions(cmd, *scan);
  cmd->callback([scan] { exitCode() = runScanFolder(*scan); });
}

}  // namespace cli
