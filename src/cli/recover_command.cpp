// retrievo recover: scans a backup, ticks what the options name and writes it into a folder.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <system_error>

#include "base/log.h"
#include "catalogue/backup_folder.h"
#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/scan_session.h"
#include "results/output_folder.h"
#include "results/recovery_writer.h"
#include "results/result_record.h"
#include "results/search_filter.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// Some items could not be written in full (the others were).
constexpr int kExitIncomplete = 4;
// How many of the items not written in full are named (all of them with --verbose).
constexpr std::size_t kIssuesShown = 5;

struct RecoverOptions {
  std::string passwordFile;  // --password-file, for an encrypted backup
  std::string backup;
  std::string out;
  bool all = false;
  std::vector<std::string> categories;
  bool deletedOnly = false;
  std::string match;
  std::vector<std::string> files;
  bool quiet = false;
};

// Checks that entries can be made in the output folder, making it when `create`. Prints the
// cause once and returns false when they cannot, so that a run does not fail item by item.
bool outputFolderWritable(const std::string& out, bool create) {
  std::string problem;
  auto folder = OutputDir::openRoot(out, create, &problem);
  if (folder) {
    if (int error = folder->probeWritable(); error != 0) problem = std::strerror(error);
  }
  if (!folder || !problem.empty()) {
    std::cerr << "retrievo: cannot write into the output folder " << out << ": " << problem << '\n';
    return false;
  }
  return true;
}

ResultRows rowsOf(const MzResultViewController& r, ResultCategory category) {
  switch (category) {
    case ResultCategory::Photo:
      return toRows(r.photoAndVideoArray);
    case ResultCategory::AppPhoto:
      return toRows(r.appPhotoAndVideoArray);
    case ResultCategory::Contact:
      return toRows(r.contactArray);
    case ResultCategory::Message:
      return toRows(r.messageTreeArray);
    case ResultCategory::Note:
      return toRows(r.noteArray);
    case ResultCategory::CallHistory:
      return toRows(r.callHistoryArray);
    case ResultCategory::BookMark:
      return toRows(r.bookMarkArray);
    case ResultCategory::Calender:
      return toRows(r.calenderArray);
    case ResultCategory::FaceTwitter:
      return toRows(r.faceTwitterArray);
    case ResultCategory::BackUpBrowser:
      break;
  }
  return {};
}

// Ticks the records of `category` that pass the options; returns how many were ticked.
std::int32_t tickCategory(MzResultViewController& results, ResultCategory category,
                          const RecoverOptions& opt, const std::u32string& folded) {
  std::int32_t ticked = 0;
  const bool filter = !opt.match.empty() && isSearchableCategory(category);
  for (const auto& record : rowsOf(results, category)) {
    if (opt.deletedOnly && !isDeletedRecord(record)) continue;
    if (filter && !recordMatchesSearch(record, folded)) continue;
    if (setSelected(record, true)) ++ticked;
  }
  return ticked;
}

// Recovery progress on stderr: a bar redrawn in place on a terminal, otherwise one line
// per output folder begun.
class RecoverProgressPrinter {
 public:
  explicit RecoverProgressPrinter(bool quiet) : quiet_(quiet), tty_(isatty(STDERR_FILENO) == 1) {}

  void report(const RecoveryProgress& p) {
    if (quiet_) return;
    if (tty_) {
      if (p.percent == lastPercent_) return;
      lastPercent_ = p.percent;
      const int filled = p.percent * 30 / 100;
      std::fprintf(stderr, "\rrecovering [%-30s] %3d%%", std::string(filled, '#').c_str(),
                   p.percent);
    } else {
      if (p.step == lastStep_) return;
      lastStep_ = p.step;
      std::fprintf(stderr, "recover: %s (%d of %lld)\n", p.step.c_str(), p.written,
                   static_cast<long long>(p.total));
    }
    std::fflush(stderr);
  }

  void finish() {
    if (quiet_) return;
    if (tty_) {
      std::fprintf(stderr, "\rrecovering [%s] done\n", std::string(30, '#').c_str());
    } else {
      std::fprintf(stderr, "recover: done\n");
    }
  }

 private:
  bool quiet_;
  bool tty_;
  int lastPercent_ = -1;
  std::string lastStep_;
};

int runRecover(const RecoverOptions& opt) {
  if (!opt.all && opt.categories.empty() && opt.files.empty()) {
    std::cerr << "retrievo: nothing selected: use --all, --category or --files\n";
    return kExitUsage;
  }
  std::set<ResultCategory> chosen;
  for (const auto& name : opt.categories) {
    auto category = categoryByName(name);
    if (!category) {
      std::cerr << "retrievo: unknown category: " << name << '\n';
      return kExitUsage;
    }
    chosen.insert(*category);
  }
  if (opt.all) {
    for (const auto& c : documentCategories()) chosen.insert(c.category);
  }
  if (int code = checkBackupFolder(opt.backup, opt.passwordFile); code != kExitOk) return code;
  if (isInsideFolder(opt.out, opt.backup)) {
    std::cerr << "retrievo: the output folder is inside the backup folder: " << opt.out << '\n';
    return kExitUsage;
  }
  // An output folder that is there already is checked before the scan, which may take long.
  std::error_code exists;
  if (fs::exists(fs::symlink_status(opt.out, exists)) && !outputFolderWritable(opt.out, false)) {
    return kExitFailure;
  }

  ScanSession session;
  if (int code = session.run(opt.backup, opt.quiet); code != kExitOk) return code;
  MzResultViewController& results = session.results();

  const std::u32string folded = foldedSearchText(opt.match);
  for (ResultCategory c : chosen) {
    results.selectedFilesNum += tickCategory(results, c, opt, folded);
  }
  for (const auto& path : opt.files) {
    if (!session.tree().selectPath(path)) {
      std::cerr << "retrievo: no such file or folder in the backup: " << path << '\n';
      return kExitUsage;
    }
  }
  if (results.selectionTotal() == 0) {
    if (!opt.match.empty()) {
      std::cerr << "retrievo: no item matches \"" << opt.match << "\"\n";
    } else {
      std::cerr << "retrievo: nothing selected: use --all, --category or --files\n";
    }
    return kExitUsage;
  }
  if (!outputFolderWritable(opt.out, true)) return kExitFailure;

  MzRecoveryWriter writer(results);
  writer.treeRoots = session.tree().roots();
  RecoverProgressPrinter progress(opt.quiet);
  writer.onProgress = [&progress](const RecoveryProgress& p) { progress.report(p); };
  writer.onFinished = [&progress](const RecoveryReport&) { progress.finish(); };
  writer.start(opt.out);
  writer.wait();

  const RecoveryReport& report = writer.report();
  std::error_code cec;
  const fs::path shown = fs::weakly_canonical(fs::absolute(opt.out, cec), cec);
  std::cout << "written: " << report.writtenInFull() << " items\n";
  std::cout << "failed: " << report.issues.size() << " items\n";
  std::cout << "folder: " << (cec ? opt.out : shown.string()) << '\n';
  if (report.issues.empty()) return kExitOk;

  std::cerr << "retrievo: " << report.issues.size() << " items were not written in full:\n";
  const std::size_t shownIssues =
      applog::verbose() ? report.issues.size() : std::min(report.issues.size(), kIssuesShown);
  for (std::size_t i = 0; i < shownIssues; ++i) {
    std::cerr << "  " << report.issues[i].item << ": " << report.issues[i].reason << '\n';
  }
  if (report.issues.size() > shownIssues) {
    std::cerr << "  and " << report.issues.size() - shownIssues << " more\n";
  }
  return kExitIncomplete;
}

}  // namespace

void addRecoverCommand(CLI::App& app) {
  auto opt = std::make_shared<RecoverOptions>();
  CLI::App* cmd = app.add_subcommand(
      "recover",
      "Scan a backup folder and write the chosen items into a folder: media and backup files "
      "byte for byte, contacts as vCards and a text file, conversations as HTML pages, notes, "
      "calls, bookmarks and calendar events as text files. Exit code 4 when some items could "
      "not be written in full (they are named on stderr).");
  cmd->add_option("BACKUP", opt->backup, "The backup folder (only read, never written)")
      ->required();
  addPasswordOption(cmd, opt->passwordFile);
  cmd->add_option("--out", opt->out,
                  "The output folder, created when missing; it must not lie inside the backup "
                  "folder")
      ->required();
  cmd->add_flag("--all", opt->all, "Recover every item of every category");
  std::string names;
  for (const auto& c : documentCategories())
    names += std::string(names.empty() ? "" : ", ") + c.name;
  cmd->add_option("--category", opt->categories,
                  "Recover every item of this category (repeatable): " + names);
  cmd->add_flag("--deleted-only", opt->deletedOnly,
                "Of the chosen categories only the records recovered from deleted data (media, "
                "social media and backup files are never deleted, so none of them)");
  cmd->add_option("--match", opt->match,
                  "Of the chosen categories only the records that contain TEXT, ignoring letter "
                  "case: conversations by name or address, contacts by name or phone, notes by "
                  "title or text, calls by name or phone, calendar by title or note; bookmarks, "
                  "media, social media and --files are not filtered by it");
  cmd->add_option("--files", opt->files,
                  "Also recover this backup file or folder of the backup browser, given as "
                  "DOMAIN/DEVICE/PATH (e.g. HomeDomain/Library/Preferences; repeatable); it is "
                  "written under <out>/<device name>/DOMAIN/PATH");
  cmd->add_flag("-q,--quiet", opt->quiet, "No progress on stderr");
  cmd->callback([opt] { exitCode() = runRecover(*opt); });
}

}  // namespace cli
