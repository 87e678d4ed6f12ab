// retrievo search: the records of one category that the search field would show for a text.
#include <CLI/CLI.hpp>
#include <iostream>
#include <type_traits>
#include <variant>

#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/json_records.h"
#include "cli/scan_session.h"
#include "cli/table_printer.h"
#include "results/search_filter.h"

namespace cli {
namespace {

struct SearchOptions {
  std::string passwordFile;  // --password-file, for an encrypted backup
  std::string backup;
  std::string category;
  std::string text;
  bool json = false;
};

const char* mark(bool deleted) { return deleted ? "deleted" : ""; }

// Multi-value fields keep one blank before every value; shown without the leading one.
std::string trimmed(const std::string& s) {
  std::size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

std::vector<std::string> headersFor(ResultCategory category) {
  switch (category) {
    case ResultCategory::Contact:
      return {"Name", "Phones", ""};
    case ResultCategory::Message:
      return {"Name", "Address", "Messages", ""};
    case ResultCategory::Note:
      return {"Title", "Date", "Text", ""};
    case ResultCategory::CallHistory:
      return {"Name", "Number", "Date", ""};
    default:
      return {"Title", "Start", "Note", ""};
  }
}

std::vector<std::string> cellsOf(const ResultRecord& record) {
  return std::visit(
      [](const auto& r) -> std::vector<std::string> {
        using T = typename std::decay_t<decltype(r)>::element_type;
        if (r == nullptr) return {};
        if constexpr (std::is_same_v<T, MzContactNode>) {
          return {trimmed(r->contactName), trimmed(r->contactPhone), mark(r->bDeleted)};
        } else if constexpr (std::is_same_v<T, MzMessageTreeNode>) {
          const std::size_t n = r->MessageNodeArray ? r->MessageNodeArray->size() : 0;
          return {r->messageTreeNodeName, r->messageTreeNodeAdress, std::to_string(n),
                  mark(r->bdeleted)};
        } else if constexpr (std::is_same_v<T, MzNoteNode>) {
          return {r->noteTitle, r->noteDate, r->noteContent.substr(0, 60), mark(r->bDeleted)};
        } else if constexpr (std::is_same_v<T, MzCallHistoryNode>) {
          return {r->callName.value_or(""), r->callPhone, r->callDate, mark(r->bDeleted)};
        } else if constexpr (std::is_same_v<T, MzCalenderNode>) {
          return {r->calTitle, r->startDate, r->calNote.substr(0, 60), mark(r->bDeleted)};
        } else {
          return {};
        }
      },
      record);
}

nlohmann::json rowsJson(const ResultRows& rows) {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& row : rows) {
    std::visit(
        [&list](const auto& r) {
          if (r != nullptr) list.push_back(toJson(*r));
        },
        row);
  }
  return list;
}

int runSearch(const SearchOptions& opt) {
  auto category = categoryByName(opt.category);
  if (!category) {
    std::cerr << "retrievo: unknown category: " << opt.category << " (one of:";
    for (const auto& c : documentCategories()) std::cerr << ' ' << c.name;
    std::cerr << ")\n";
    return kExitUsage;
  }
  if (!isSearchableCategory(*category)) {
    std::cerr << "retrievo: " << opt.category
              << " cannot be searched (contacts, conversations, calls, notes and calendar can)\n";
    return kExitUsage;
  }
  if (int code = checkBackupFolder(opt.backup, opt.passwordFile); code != kExitOk) return code;
  ScanSession session;
  if (int code = session.run(opt.backup, true); code != kExitOk) return code;
  MzResultViewController& results = session.results();
  results.openCategory(*category);
  {
    MzSearchFilter filter(results);
    filter.controlTextDidChange(opt.text);
    filter.waitForSearch();
  }
  const ResultRows& rows = results.shownRows();
  if (opt.json) {
    std::cout << rowsJson(rows).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
              << '\n';
  } else {
    TablePrinter table(headersFor(*category));
    for (const auto& row : rows) table.addRow(cellsOf(row));
    table.print(std::cout);
  }
  return kExitOk;
}

}  // namespace

void addSearchCommand(CLI::App& app) {
  auto opt = std::make_shared<SearchOptions>();
  CLI::App* cmd = app.add_subcommand(
      "search", "Scan a backup folder and print the records of one category that contain a text");
  cmd->footer(
      "Letter case is ignored. Contacts are matched by name and phone, conversations by name "
      "and address, notes by title and text, calls by name and number, calendar events by "
      "title and note. Bookmarks, media and social media cannot be searched.");
  cmd->add_option("BACKUP", opt->backup, "The backup folder")->required();
  addPasswordOption(cmd, opt->passwordFile);
  cmd->add_option("CATEGORY", opt->category, "contacts, conversations, calls, notes or calendar")
      ->required();
  cmd->add_option("TEXT", opt->text, "The text to find (\"\" prints the whole category)")
      ->required();
  cmd->add_flag("--json", opt->json, "Print the matching records as JSON");
  cmd->callback([opt] { exitCode() = runSearch(*opt); });
}

}  // namespace cli
