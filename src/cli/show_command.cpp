// retrievo show: one category of a backup as a readable table.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>

#include "cli/backup_password.h"
#include "cli/commands.h"
#include "cli/scan_document.h"
#include "cli/scan_session.h"
#include "cli/table_printer.h"
#include "cli/terminal_text.h"
#include "results/text_records.h"

namespace cli {
namespace {

struct ShowOptions {
  std::string passwordFile;  // --password-file, for an encrypted backup
  std::string backup;
  std::string category;
  bool deletedOnly = false;
  bool json = false;
};

const char* mark(bool deleted) { return deleted ? "deleted" : ""; }

// Multi-value fields keep one blank before every value; shown without the leading one.
// A text of several lines on one table row: its lines joined by " / ".
std::string oneLine(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') {
      out += " / ";
    } else {
      out += c;
    }
  }
  return out;
}

std::string trimmed(const std::string& s) {
  std::size_t b = s.find_first_not_of(' ');
  return b == std::string::npos ? std::string() : s.substr(b);
}

template <typename T>
bool keep(const T& r, bool deletedOnly) {
  return !deletedOnly || r.bDeleted;
}

// A message of a current database: its sender and service, then what it carries.
void printCurrentMessage(const MzMessageNode& m) {
  std::cout << "  " << terminalSafe(m.messageDate) << "  " << terminalSafe(m.sender);
  if (!m.service.empty()) std::cout << " (" << terminalSafe(m.service) << ")";
  std::cout << ":  ";
  if (m.replyTo) std::cout << "[reply to \"" << terminalSafe(*m.replyTo) << "\"] ";
  std::cout << (m.unsent ? std::string("[unsent]") : terminalSafe(m.messageContent));
  if (m.edited) std::cout << "  [edited]";
  if (m.bDeleted) std::cout << "  (deleted)";
  std::cout << '\n';
  for (const auto& a : m.attachments) {
    std::cout << "      [" << terminalSafe(a.kind) << ": " << terminalSafe(a.name) << ", "
              << terminalSafe(a.storedPath.value_or("not in the backup")) << "]\n";
  }
  for (const auto& r : m.reactions) {
    std::cout << "      " << terminalSafe(r.kind);
    if (!r.emoji.empty()) std::cout << " " << terminalSafe(r.emoji);
    std::cout << " by " << terminalSafe(r.sender) << '\n';
  }
}

void printConversations(const MzResultViewController& results, bool deletedOnly) {
  // Chats of current databases name their service: the SMS and the iMessage chat with one
  // person are two conversations.
  bool services = false;
  for (const auto& c : results.messageTreeArray) services = services || c->chat != nullptr;
  TablePrinter list(services
                        ? std::vector<std::string>{"Name", "Address", "Service", "Messages", ""}
                        : std::vector<std::string>{"Name", "Address", "Messages", ""});
  for (const auto& c : results.messageTreeArray) {
    if (deletedOnly && !c->bdeleted) continue;
    std::vector<std::string> row = {c->messageTreeNodeName, c->messageTreeNodeAdress};
    if (services) row.push_back(c->chat ? c->chat->service : std::string());
    row.push_back(std::to_string(c->MessageNodeArray->size()));
    row.push_back(mark(c->bdeleted));
    list.addRow(row);
  }
  list.print(std::cout);
  for (const auto& c : results.messageTreeArray) {
    if (deletedOnly && !c->bdeleted) continue;
    std::cout << "\n== "
              << terminalSafe(c->messageTreeNodeName.empty() ? c->messageTreeNodeAdress
                                                             : c->messageTreeNodeName)
              << " (" << terminalSafe(c->messageTreeNodeAdress)
              << (c->chat && !c->chat->service.empty() ? ", " + terminalSafe(c->chat->service)
                                                       : std::string())
              << ")\n";
    for (const auto& m : *c->MessageNodeArray) {
      if (m->chat || !m->service.empty()) {
        printCurrentMessage(*m);
        continue;
      }
      std::cout << "  " << terminalSafe(m->messageDate) << "  " << terminalSafe(m->messageType)
                << "  " << terminalSafe(m->messageContent);
      if (m->isHasAttach) {
        std::cout << "  [" << terminalSafe(m->attachType.value_or("attachment")) << ": "
                  << terminalSafe(m->attachmentPath.value_or("not in the backup")) << "]";
      }
      if (m->bDeleted) std::cout << "  (deleted)";
      std::cout << '\n';
    }
  }
}

void printCategory(const MzResultViewController& r, ResultCategory category, bool deletedOnly) {
  switch (category) {
    case ResultCategory::Contact: {
      TablePrinter t({"Name", "Phones", "E-mail", "Company", ""});
      for (const auto& c : r.contactArray) {
        if (keep(*c, deletedOnly)) {
          t.addRow({trimmed(c->contactName), trimmed(c->contactPhone), trimmed(c->contactEmail),
                    trimmed(c->contactCompany), mark(c->bDeleted)});
        }
      }
      t.print(std::cout);
      return;
    }
    case ResultCategory::Message:
      printConversations(r, deletedOnly);
      return;
    case ResultCategory::CallHistory: {
      TablePrinter t({"Name", "Number", "Date", "Type", "Duration", ""});
      for (const auto& c : r.callHistoryArray) {
        if (keep(*c, deletedOnly)) {
          t.addRow({c->callName.value_or(""), c->callPhone, c->callDate, callTypeText(*c),
                    c->callDuration, mark(c->bDeleted)});
        }
      }
      t.print(std::cout);
      return;
    }
    case ResultCategory::Note: {
      // Notes of the current store have a folder and an account (and may be locked); the
      // older stores' notes keep the three columns.
      const bool current = std::any_of(r.noteArray.begin(), r.noteArray.end(), [](const auto& n) {
        return !n->folder.empty() || !n->account.empty() || n->locked;
      });
      TablePrinter t(current ? std::vector<std::string>{"Title", "Folder", "Account", "Created",
                                                        "Modified", "Text", ""}
                             : std::vector<std::string>{"Title", "Date", "Text", ""});
      for (const auto& n : r.noteArray) {
        if (!keep(*n, deletedOnly)) continue;
        const std::string text = n->locked ? "Locked" : oneLine(n->noteContent).substr(0, 60);
        if (current) {
          t.addRow({n->noteTitle, n->folder, n->account, n->createdDate, n->noteDate, text,
                    mark(n->bDeleted)});
        } else {
          t.addRow({n->noteTitle, n->noteDate, text, mark(n->bDeleted)});
        }
      }
      t.print(std::cout);
      return;
    }
    case ResultCategory::BookMark: {
      // Reading-list entries and the history of current devices are marked as such, the
      // history with its last visit.
      bool kinds = false, history = false;
      for (const auto& b : r.bookMarkArray) {
        kinds = kinds || !b->kind.empty();
        history = history || b->kind == "History";
      }
      std::vector<std::string> header = {"Title", "Address"};
      if (kinds) header.push_back("Kind");
      if (history) header.push_back("Last visit");
      header.push_back("");
      TablePrinter t(header);
      for (const auto& b : r.bookMarkArray) {
        if (!keep(*b, deletedOnly)) continue;
        std::vector<std::string> row = {b->bookMarkTitle, b->bookMarkURL};
        if (kinds) row.push_back(b->kind);
        if (history) row.push_back(b->lastVisit);
        row.push_back(mark(b->bDeleted));
        t.addRow(row);
      }
      t.print(std::cout);
      return;
    }
    case ResultCategory::Calender: {
      // The current calendar database names each item's calendar, tells reminders from
      // events and lists attendees; the older tables keep their columns.
      bool current = false;
      for (const auto& e : r.calenderArray) current = current || !e->calendarName.empty();
      TablePrinter t(current ? std::vector<std::string>{"Title", "Start", "End", "Location",
                                                        "Calendar", "Kind", "Due", "Attendees", ""}
                             : std::vector<std::string>{"Title", "Start", "End", "Location", ""});
      for (const auto& e : r.calenderArray) {
        if (!keep(*e, deletedOnly)) continue;
        if (current) {
          const std::string kind =
              e->kind.empty() ? "" : e->kind + (e->completed ? " (completed)" : "");
          t.addRow({e->calTitle, e->startDate, e->endDate, e->location, e->calendarName, kind,
                    e->dueDate, calenderAttendeesText(*e), mark(e->bDeleted)});
        } else {
          t.addRow({e->calTitle, e->startDate, e->endDate, e->location, mark(e->bDeleted)});
        }
      }
      t.print(std::cout);
      return;
    }
    case ResultCategory::Photo:
    case ResultCategory::AppPhoto: {
      const auto& list =
          category == ResultCategory::Photo ? r.photoAndVideoArray : r.appPhotoAndVideoArray;
      // A current camera roll adds when each was taken and under what name.
      const bool current = std::any_of(list.begin(), list.end(),
                                       [](const auto& p) { return !p->devicePath.empty(); });
      TablePrinter t(current ? std::vector<std::string>{"Name", "Size", "Kind", "Taken",
                                                        "Original name", "Stored file"}
                             : std::vector<std::string>{"Name", "Size", "Kind", "Stored file"});
      if (!deletedOnly) {
        for (const auto& p : list) {
          const std::string kind = p->bLivePhoto ? "Live Photo" : p->bmov ? "video" : "photo";
          if (current) {
            t.addRow({p->fileNodeName, p->fileNodeSize, kind, p->captureDate, p->originalFileName,
                      p->filePath});
          } else {
            t.addRow({p->fileNodeName, p->fileNodeSize, kind, p->filePath});
          }
        }
      }
      t.print(std::cout);
      return;
    }
    case ResultCategory::FaceTwitter: {
      TablePrinter t({"Name", "Size", "Stored file"});
      if (!deletedOnly) {
        for (const auto& f : r.faceTwitterArray) {
          t.addRow({f->faceTwitterFileName, f->fileSize, f->faceTwitterFilePath});
        }
      }
      t.print(std::cout);
      return;
    }
    case ResultCategory::BackUpBrowser:
      return;
  }
}

int runShow(const ShowOptions& opt) {
  auto category = categoryByName(opt.category);
  if (!category) {
    std::cerr << "retrievo: unknown category: " << opt.category << " (one of:";
    for (const auto& c : documentCategories()) std::cerr << ' ' << c.name;
    std::cerr << ")\n";
    return kExitUsage;
  }
  if (int code = checkBackupFolder(opt.backup, opt.passwordFile); code != kExitOk) return code;
  ScanSession session;
  if (int code = session.run(opt.backup, true); code != kExitOk) return code;
  if (opt.json) {
    std::cout << categoryJson(session.results(), *category, opt.deletedOnly)
                     .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
              << '\n';
  } else {
    printCategory(session.results(), *category, opt.deletedOnly);
  }
  return kExitOk;
}

}  // namespace

void addShowCommand(CLI::App& app) {
  auto opt = std::make_shared<ShowOptions>();
  CLI::App* cmd = app.add_subcommand("show", "Scan a backup folder and print one category");
  cmd->add_option("BACKUP", opt->backup, "The backup folder")->required();
  addPasswordOption(cmd, opt->passwordFile);
  cmd->add_option("CATEGORY", opt->category,
                  "contacts, conversations, calls, notes, bookmarks, calendar, photos, "
                  "appPhotos or social")
      ->required();
  cmd->add_flag("--deleted-only", opt->deletedOnly, "Only the records recovered from free space");
  cmd->add_flag("--json", opt->json, "Print the records as JSON");
  cmd->callback([opt] { exitCode() = runShow(*opt); });
}

}  // namespace cli
