// retrievo browse: one level of the backup-browser tree of a backup.
//
// Only the manifest is read (no database is opened), the file-index records go into the same
// tree the results view shows, and the level below the named node is printed: its folders
// with their ticks and file counts, then its files with their size and whether the backup
// holds the stored file.
#include <CLI/CLI.hpp>
#include <iostream>
#include <nlohmann/json.hpp>

#include "base/notification_center.h"
#include "catalogue/device_controller.h"
#include "catalogue/manifest_reader.h"
#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/scan_session.h"
#include "cli/table_printer.h"
#include "cli/terminal_text.h"
#include "results/tree_controller.h"

namespace cli {
namespace {

struct BrowseOptions {
  std::string passwordFile;  // --password-file, for an encrypted backup
  std::string backup;
  std::string node;                // DOMAIN[/PATH]; empty: the device
  std::vector<std::string> ticks;  // DOMAIN[/PATH] to tick first
  bool json = false;
};

std::string counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

const char* tickMark(std::int32_t state) {
  return state == 1 ? "[x]" : (state == 2 ? "[-]" : "[ ]");
}

// The names from the root down to `dir`, joined by "/".
std::string treePathOf(const MzTreeDirNode& dir) {
  std::string path = dir.fileName;
  for (const MzTreeDirNode* p = dir.parent; p != nullptr; p = p->parent) {
    path = p->fileName + "/" + path;
  }
  return path;
}

nlohmann::json folderJson(const MzTreeDirNode& d) {
  return {{"fileName", d.fileName},
          {"isSelected", d.isSelected},
          {"nodeIcon", d.nodeIcon},
          {"files", d.fileChildren.size()},
          {"allFiles", MzTreeController::countFiles(d)}};
}

nlohmann::json fileJson(const MzTreeFileNode& f) {
  return {{"treefileName", f.treefileName},
          {"treefileType", f.treefileType},
          {"fileSize", f.fileSize},
          {"realFileSize", f.realFileSize},
          {"isFile", f.isFile},
          {"bSelected", f.bSelected},
          {"dirFilePath", f.dirFilePath},
          {"filePath", f.filePath}};
}

void printFolders(const std::vector<std::shared_ptr<MzTreeDirNode>>& folders) {
  if (folders.empty()) return;
  TablePrinter table({"Tick", "Folder", "Files", "With subfolders"});
  for (const auto& d : folders) {
    table.addRow({tickMark(d->isSelected), d->fileName + "/",
                  std::to_string(d->fileChildren.size()),
                  std::to_string(MzTreeController::countFiles(*d))});
  }
  table.print(std::cout);
}

void printFiles(const std::vector<const MzTreeFileNode*>& files) {
  if (files.empty()) return;
  TablePrinter table({"Tick", "File", "Size", "Stored"});
  for (const MzTreeFileNode* f : files) {
    table.addRow({f->bSelected ? "[x]" : "[ ]", f->treefileName, f->fileSize,
                  f->isFile ? "yes" : "missing"});
  }
  table.print(std::cout);
}

// Reads the manifest of the backup into `tree`. Prints the reason and returns the exit code
// when there is nothing to show.
int buildTree(const std::string& folder, MzTreeController& tree) {
  auto node = MzIOSDeviceController::readDeviceNode(folder);
  auto backup = std::make_shared<MzIOSDeviceNode>(node ? *node : MzIOSDeviceNode{});
  backup->backUpFilePath = folder;
  const std::string rootName = treeRootName(backup);
  tree.currentDeviceName = [rootName] { return rootName; };

  NotificationCenter center;  // nobody listens: the records are taken from the index
  ManifestReadOptions options;
  options.nc = &center;
  options.bIOSRecoveryMode = true;
  FileIndex index;
  ManifestReadResult result = scanDirAnalyThread(folder, index, options);
  if (result.status == ManifestStatus::Missing) {
    std::cerr << "retrievo: no manifest in " << folder << '\n';
    return kExitFailure;
  }
  if (result.status == ManifestStatus::BadHeader) {
    std::cerr << "retrievo: unreadable manifest in " << folder << '\n';
    return kExitFailure;
  }
  if (result.status == ManifestStatus::Truncated) {
    std::cerr << "retrievo: " << result.manifestName << " is cut short; showing the "
              << result.entries << " entries before the break\n";
  }
  for (const auto& record : index) tree.addTreeNode(record);
  return kExitOk;
}

int runBrowse(const BrowseOptions& opt) {
  if (int code = checkBackupFolder(opt.backup, opt.passwordFile); code != kExitOk) return code;
  MzTreeController tree;
  if (int code = buildTree(opt.backup, tree); code != kExitOk) return code;
  for (const auto& path : opt.ticks) {
    if (!tree.selectPath(path)) {
      std::cerr << "retrievo: no folder or file " << terminalSafe(path) << " in the backup\n";
      return kExitFailure;
    }
  }

  // What to list: the folders and files below the node, or the files the node names.
  const MzTreeDirNode* dir = nullptr;
  std::vector<std::shared_ptr<MzTreeDirNode>> folders;
  std::vector<const MzTreeFileNode*> files;
  if (opt.node.empty() || opt.node == "/") {
    if (!tree.roots().empty()) dir = tree.roots().front().get();
  } else {
    TreeLocation at = tree.findPath(opt.node);
    if (!at.found()) {
      std::cerr << "retrievo: no folder or file " << terminalSafe(opt.node) << " in the backup\n";
      return kExitFailure;
    }
    dir = at.directory;
    files.assign(at.files.begin(), at.files.end());
  }
  if (dir != nullptr) {
    folders = dir->children;
    for (const auto& f : dir->fileChildren) files.push_back(f.get());
  }
  const std::size_t ticked = tree.getTreeSelectedItemNum();

  if (opt.json) {
    nlohmann::json out = {{"backup", opt.backup}, {"node", opt.node}, {"ticked", ticked}};
    if (dir != nullptr) {
      out["path"] = treePathOf(*dir);
      out["isSelected"] = dir->isSelected;
      out["nodeIcon"] = dir->nodeIcon;
      out["files"] = dir->fileChildren.size();
      out["allFiles"] = MzTreeController::countFiles(*dir);
    }
    out["folders"] = nlohmann::json::array();
    for (const auto& d : folders) out["folders"].push_back(folderJson(*d));
    out["fileChildren"] = nlohmann::json::array();
    for (const MzTreeFileNode* f : files) out["fileChildren"].push_back(fileJson(*f));
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return kExitOk;
  }

  if (dir != nullptr) {
    std::cout << tickMark(dir->isSelected) << ' ' << terminalSafe(treePathOf(*dir)) << ": "
              << folders.size() << " folders, " << dir->fileChildren.size() << " files, "
              << MzTreeController::countFiles(*dir) << " with subfolders\n";
  } else {
    std::cout << terminalSafe(opt.node) << ": " << counted(files.size(), "file", "files") << '\n';
  }
  printFolders(folders);
  if (!folders.empty() && !files.empty()) std::cout << '\n';
  printFiles(files);
  if (!opt.ticks.empty()) {
    std::cout << counted(ticked, "file", "files") << " ticked in the backup\n";
  }
  return kExitOk;
}

}  // namespace

void addBrowseCommand(CLI::App& app) {
  auto opt = std::make_shared<BrowseOptions>();
  CLI::App* cmd = app.add_subcommand(
      "browse",
      "Show one level of the backup's files: the folders and files below the device, a "
      "domain or a folder");
  cmd->add_option("BACKUP", opt->backup, "The backup folder")->required();
  addPasswordOption(cmd, opt->passwordFile);
  cmd->add_option("NODE", opt->node,
                  "DOMAIN[/PATH] whose level is shown, as the device names it "
                  "(\"HomeDomain/Library/Preferences\"); omitted: the domains");
  cmd->add_option("--tick", opt->ticks,
                  "Tick DOMAIN[/PATH] (a folder with everything below it, or a file) before "
                  "printing, as recover --files would; may be repeated")
      ->allow_extra_args(false);
  cmd->add_flag("--json", opt->json, "Print the level as JSON");
  cmd->footer(
      "Folders show their tick ([ ] none, [x] all, [-] some), the files directly in them and "
      "the files with their subfolders. Files show their size and whether the backup holds "
      "their stored file. Exit status 1 when the node is not in the backup.\n");
  cmd->callback([opt] { exitCode() = runBrowse(*opt); });
}

}  // namespace cli
