// retrievo scan: scans one backup folder and prints what it found per category.
#include <CLI/CLI.hpp>
#include <iostream>

#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/scan_document.h"
#include "cli/scan_session.h"
#include "cli/table_printer.h"
#include "results/file_copy.h"
#include "results/hex_preview.h"

namespace cli {
namespace {

// Writes the scan document to `target` ("-" for stdout) as it is made, record by record.
int writeDocument(ScanSession& session, const std::string& target) {
  const MzResultViewController& results = session.results();
  if (target == "-") {
    writeScanDocument(*session.backup(), results, session.problems(), [](std::string_view text) {
      std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
      return true;
    });
    return kExitOk;
  }
  // A document the library refuses to write throws before any file is left behind: the
  // half-written temporary file is removed first, then the exception goes on.
  std::exception_ptr refused;
  std::string error;
  const bool written = writeFileAtomicallyWith(
      target,
      [&](const std::function<bool(std::string_view)>& write) {
        try {
          return writeScanDocument(*session.backup(), results, session.problems(), write);
        } catch (const nlohmann::json::exception&) {
          refused = std::current_exception();
          return false;
        }
      },
      &error);
  if (refused) std::rethrow_exception(refused);
  if (!written) {
    std::cerr << "retrievo: " << error << '\n';
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace

namespace {

// Prints what `session` found: the JSON document to `json` when given ("-": stdout only), then
// the category table.
int printScanResults(ScanSession& session, const std::string& json) {
  MzResultViewController& results = session.results();
  if (!json.empty()) {
    int code = writeDocument(session, json);
    if (code != kExitOk || json == "-") return code;
  }
  TablePrinter table({"Category", "Live", "Deleted"});
  for (const auto& c : documentCategories()) {
    auto n = results.countsFor(c.category);
    table.addRow({c.name, std::to_string(n.live), std::to_string(n.deleted)});
  }
  table.print(std::cout);
  return kExitOk;
}

}  // namespace

int runScan(const ScanOptions& opt) {
  if (int code = checkBackupFolder(opt.backup, opt.passwordFile); code != kExitOk) return code;
  if (opt.json != "-" && !opt.json.empty()) {
    if (std::string problem = outputFileProblem(opt.json, opt.backup); !problem.empty()) {
      std::cerr << "retrievo: " << problem << '\n';
      return kExitUsage;
    }
  }
  ScanSession session;
  if (int code = session.run(opt.backup, opt.quiet); code != kExitOk) return code;
  return printScanResults(session, opt.json);
}

int runCloudScan(const std::string& mergeFolder, const MzIOSDeviceNode& record,
                 const std::string& json, bool quiet) {
  if (json != "-" && !json.empty()) {
    if (std::string problem = outputFileProblem(json, mergeFolder); !problem.empty()) {
      std::cerr << "retrievo: " << problem << '\n';
      return kExitUsage;
    }
  }
  ScanSession session;
  if (int code = session.runCloud(mergeFolder, record, quiet); code != kExitOk) return code;
  return printScanResults(session, json);
}

void addScanCommand(CLI::App& app) {
  auto opt = std::make_shared<ScanOptions>();
  CLI::App* cmd = app.add_subcommand(
      "scan", "Scan a backup folder and print the live and deleted records found per category");
  cmd->add_option("BACKUP", opt->backup, "The backup folder")->required();
  addPasswordOption(cmd, opt->passwordFile);
  cmd->add_option(
      "--json", opt->json,
      "Also write the whole result as JSON to FILE, replacing it (\"-\" for stdout only); "
      "never a file inside the backup folder or a symbolic link");
  cmd->add_flag("-q,--quiet", opt->quiet, "No progress on stderr");
  cmd->callback([opt] { exitCode() = runScan(*opt); });
}

}  // namespace cli
