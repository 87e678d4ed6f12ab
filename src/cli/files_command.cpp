// retrievo files: the file index of one backup.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "app/retrievo_app_delegate.h"
#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/json_records.h"
#include "cli/table_printer.h"

namespace cli {
namespace {

struct FilesOptions {
  std::string passwordFile;  // --password-file, for an encrypted backup
  std::string backup;
  bool json = false;
};

int runFiles(const FilesOptions& opt) {
  if (int code = checkBackupFolder(opt.backup, opt.passwordFile); code != kExitOk) return code;
  NotificationCenter center;
  RetrievoAppDelegate delegate(center);
  delegate.createScanLists();
  ManifestReadResult result = delegate.scanDirAnalyThread(opt.backup);
  if (result.status == ManifestStatus::Missing) {
    std::cerr << "retrievo: no manifest in " << opt.backup << '\n';
    return kExitFailure;
  }
  if (result.status == ManifestStatus::BadHeader) {
    std::cerr << "retrievo: unreadable manifest in " << opt.backup << '\n';
    return kExitFailure;
  }
  if (result.status == ManifestStatus::Truncated) {
    std::cerr << "retrievo: " << result.manifestName << " is cut short; showing the "
              << result.entries << " entries before the break\n";
  }
  const FileIndex& index = delegate.scan->treeFileArray;
  std::error_code ec;
  if (opt.json) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& r : index) {
      out.push_back(
          toJson(*r, !r->fileKey.empty() && std::filesystem::is_regular_file(r->fileKey, ec)));
    }
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return kExitOk;
  }
  TablePrinter table({"Domain", "Device path", "Stored file", "Exists"});
  for (const auto& r : index) {
    bool exists = !r->fileKey.empty() && std::filesystem::is_regular_file(r->fileKey, ec);
    table.addRow({r->fileDomain, r->filePath, r->fileKey, exists ? "yes" : "no"});
  }
  table.print(std::cout);
  std::cout << index.size() << " entries (" << result.manifestName << ")\n";
  return kExitOk;
}

}  // namespace

void addFilesCommand(CLI::App& app) {
  auto opt = std::make_shared<FilesOptions>();
  CLI::App* cmd = app.add_subcommand("files", "Print the file index of a backup folder");
  cmd->add_option("BACKUP", opt->backup, "The backup folder")->required();
  addPasswordOption(cmd, opt->passwordFile);
  cmd->add_flag("--json", opt->json, "Print the index as JSON");
  cmd->callback([opt] { exitCode() = runFiles(*opt); });
}

}  // namespace cli
