// retrievo list: the backups of the backup root.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <vector>

#include "app/paths.h"
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

int runList(const ListOptions& opt) {
  // Folders named on the command line are listed on their own, as when they are picked
  // by hand; otherwise the backup root is listed.
  const bool byHand = !opt.folders.empty() && opt.root.empty();
  const std::string root = opt.root.empty() ? paths::backupRoot() : opt.root;
  std::error_code ec;
  MzIOSDeviceController catalogue;
  if (!byHand) {
    if (!std::filesystem::is_directory(root, ec)) {
      std::cerr << "retrievo: no such folder: " << root << '\n';
      return kExitFailure;
    }
    BackupListController list(catalogue, nullptr);
    list.showIphoneDisk(root);
  }
  for (const std::string& folder : opt.folders) {
    if (!std::filesystem::is_directory(folder, ec)) {
      std::cerr << "retrievo: no such folder: " << folder << '\n';
      return kExitFailure;
    }
    std::size_t before = catalogue.count();
    catalogue.addDeviceNodeByPath(folder);
    if (catalogue.count() == before) {
      std::cerr << "retrievo: not a device backup: " << folder << '\n';
      return kExitFailure;
    }
  }

  if (opt.json) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& node : catalogue.arrangedObjects()) out.push_back(toJson(*node));
    std::cout << out.dump(2) << '\n';
    return kExitOk;
  }
  if (catalogue.count() == 0) {
    std::cout << "No device backups in " << root << '\n';
    return kExitOk;
  }
  TablePrinter table(
      {"Name", "Model", "Serial", "iOS", "Sync software", "Backup time", "Size", "Path"});
  for (const auto& n : catalogue.arrangedObjects()) {
    table.addRow({n->strDeviceName, n->strDeviceType, n->strDeviceSerial, n->strIOSVersion,
                  n->itunesVersion, n->strDeviceBackUpTime, n->strDeviceSize, n->backUpFilePath});
  }
  table.print(std::cout);
  return kExitOk;
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
