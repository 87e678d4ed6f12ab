// retrievo list: the backups of the backup root.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "base/paths.h"
#include "catalogue/backup_folder.h"
#include "catalogue/backup_list_controller.h"
#include "catalogue/device_controller.h"
#include "cli/commands.h"
#include "cli/json_records.h"
#include "cli/table_printer.h"

namespace cli {
namespace {

struct ListOptions {
  std::string root;
  std::vector<std::string> folders;
  bool json = false;
};

// Whether `path` is a folder; if not, says why on stderr.
bool isFolder(const std::string& path) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (std::filesystem::is_directory(status)) return true;
  std::cerr << "retrievo: "
            << (std::filesystem::exists(status) ? "not a folder: " : "no such folder: ") << path
            << '\n';
  return false;
}

int runList(const ListOptions& opt) {
  // Folders named on the command line are listed on their own, as when they are picked
  // by hand; otherwise the backup root is listed. A folder that cannot be listed is named
  // on stderr and the others are still listed; only a folder named on the command line, or
  // a root that cannot be read, makes the exit status a failure.
  const bool byHand = !opt.folders.empty() && opt.root.empty();
  const std::string root = opt.root.empty() ? paths::backupRoot() : opt.root;
  std::error_code ec;
  MzIOSDeviceController catalogue;
  int status = kExitOk;
  if (!byHand) {
    if (!isFolder(root)) return kExitFailure;
    std::filesystem::directory_iterator readable(root, ec);
    if (ec) {
      std::cerr << "retrievo: cannot read folder: " << root << ": " << ec.message() << '\n';
      return kExitFailure;
    }
    BackupListController list(catalogue, nullptr);
    for (const SkippedBackup& skipped : list.showIphoneDisk(root)) {
      std::cerr << "retrievo: skipped " << skipped.folder << ": " << skipped.reason << '\n';
    }
  }
  for (const std::string& folder : opt.folders) {
    if (!isFolder(folder)) {
      status = kExitFailure;
      continue;
    }
    std::size_t before = catalogue.count();
    std::string refusal;
    catalogue.addDeviceNodeByPath(folder, &refusal);
    if (catalogue.count() == before) {
      if (refusal.empty()) {
        std::cerr << "retrievo: not a device backup: " << folder << '\n';
      } else {
        std::cerr << "retrievo: skipped " << folder << ": " << refusal << '\n';
      }
      status = kExitFailure;
    }
  }

  if (opt.json) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& node : catalogue.arrangedObjects()) {
      nlohmann::json record = toJson(*node);
      record["encrypted"] = isEncryptedBackup(node->backUpFilePath);
      out.push_back(std::move(record));
    }
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return status;
  }
  if (catalogue.count() == 0) {
    if (!byHand) std::cout << "No device backups in " << root << '\n';
    return status;
  }
  TablePrinter table({"Name", "Model", "Serial", "iOS", "Sync software", "Backup time", "Size",
                      "Encrypted", "Path"});
  for (const auto& n : catalogue.arrangedObjects()) {
    table.addRow({n->strDeviceName, n->strDeviceType, n->strDeviceSerial, n->strIOSVersion,
                  n->itunesVersion, MzIOSDeviceController::listedBackupTime(*n),
                  MzIOSDeviceController::listedSize(*n),
                  isEncryptedBackup(n->backUpFilePath) ? "yes" : "no", n->backUpFilePath});
  }
  table.print(std::cout);
  return status;
}

}  // namespace

void addListCommand(CLI::App& app) {
  auto opt = std::make_shared<ListOptions>();
  CLI::App* cmd = app.add_subcommand(
      "list", "List the device backups in the backup root, or describe given backup folders");
  cmd->add_option("--root", opt->root,
                  "Backup root to list (default: $RETRIEVO_BACKUP_ROOT, else the sync "
                  "software's backup folder in your home)");
  cmd->add_option("FOLDER", opt->folders,
                  "Backup folders to describe instead of (or, with --root, after) the root's");
  cmd->add_flag("--json", opt->json, "Print the backup records as JSON");
  cmd->callback([opt] { exitCode() = runList(*opt); });
}

}  // namespace cli
