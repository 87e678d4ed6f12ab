#include "extract/notes_scanner.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/conversions.h"
#include "base/log.h"
#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/database_location.h"
#include "extract/device_databases.h"
#include "extract/note_attachments.h"
#include "extract/note_store_body.h"
#include "extract/step_database.h"

namespace {

// notes.db (NOTE and NOTE_BODIES), then the Core Data store's ZNOTE and ZNOTEBODY.
// Each selects the note's row id last, for the records' origins.
constexpr const char* kNotesDbQuery =
    "select TITLE,SUMMARY,MODIFICATION_DATE,CREATION_DATE,DATA,NOTE.ROWID from note LEFT JOIN "
    "NOTE_BODIES ON NOTE.ROWID = NOTE_BODIES.NOTE_ID";
constexpr const char* kCoreDataQuery =
    "select ZTITLE,ZSUMMARY,ZMODIFICATIONDATE,ZCREATIONDATE,ZCONTENT,ZNOTE.Z_PK from znote LEFT "
    "JOIN ZNOTEBODY ON ZNOTE.Z_PK = ZNOTEBODY.Z_PK";

constexpr int kTitleColumn = 0;
constexpr int kModificationDateColumn = 2;
constexpr int kBodyColumn = 4;
constexpr int kRowIdColumn = 5;

std::vector<DatabaseCandidate> notesCandidates() {
  return {{devicedb::kNotesKey, devicedb::kNotes.domain, devicedb::kNotes.path},
          {devicedb::kNotesSecondKey, devicedb::kNotesSecond.domain, devicedb::kNotesSecond.path}};
}

std::shared_ptr<MzNoteNode> noteFromRow(const SqliteStatement& row) {
  auto note = std::make_shared<MzNoteNode>();
  if (auto title = row.columnNonEmptyText(kTitleColumn)) note->noteTitle = *title;
  if (row.columnNonEmptyText(kModificationDateColumn)) {
    note->noteDate = dateText(row.columnInt(kModificationDateColumn), 1);
  }
  if (auto body = row.columnNonEmptyText(kBodyColumn)) note->noteContent = *body;
  note->noteContent = cleanNoteBody(note->noteContent);
  return note;
}

// ---- The current store ----------------------------------------------------------------------

// The columns of the current query, in its select list.
enum CurrentColumn {
  kCurrentTitle,
  kCurrentCreated,
  kCurrentModified,
  kCurrentFolder,
  kCurrentAccount,
  kCurrentLocked,
  kCurrentDeleted,
  kCurrentBody,
  kCurrentId,
};

// The number after `prefix` in `column` (0 for the bare name), or none when `column` is not
// the prefix followed by nothing but digits.
std::optional<int> numberAfter(const std::string& column, const std::string& prefix) {
  if (column.compare(0, prefix.size(), prefix) != 0 || column.size() < prefix.size()) {
    return std::nullopt;
  }
  const std::string rest = column.substr(prefix.size());
  if (rest.empty()) return 0;
  if (rest.size() > 3) return std::nullopt;
  for (char c : rest) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return std::stoi(rest);
}

// The columns named `prefix` or `prefix` and a number. The numbered ones come first, the
// highest first when `highestFirst` (the later attribute of a date: ZCREATIONDATE3 before
// ZCREATIONDATE1), else the lowest first (the note's title ZTITLE1 before the folder's
// ZTITLE2); the bare name comes last (an attachment's attribute on the note rows' table).
std::vector<std::string> numberedColumns(const std::vector<std::string>& columns,
                                         const std::string& prefix, bool highestFirst) {
  std::vector<std::pair<int, std::string>> found;
  for (const auto& column : columns) {
    if (auto number = numberAfter(column, prefix)) found.emplace_back(*number, column);
  }
  std::sort(found.begin(), found.end(), [&](const auto& a, const auto& b) {
    if ((a.first == 0) != (b.first == 0)) return b.first == 0;
    return highestFirst ? a.first > b.first : a.first < b.first;
  });
  std::vector<std::string> names;
  for (auto& [number, name] : found) names.push_back(std::move(name));
  return names;
}

// The first non-NULL of `columns` of the row `alias`, as SQL.
std::string firstOf(const std::string& alias, const std::vector<std::string>& columns) {
  if (columns.empty()) return "NULL";
  if (columns.size() == 1) return alias + "." + columns.front();
  std::string sql = "coalesce(";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) sql += ",";
    sql += alias + "." + columns[i];
  }
  return sql + ")";
}

bool hasColumn(const std::vector<std::string>& columns, const char* name) {
  return std::find(columns.begin(), columns.end(), name) != columns.end();
}

// Whether `name` is "Z_", a number, then `suffix` (the name of a Core Data join table or of
// one of its columns: Z_12NOTES, Z_12FOLDERS).
bool isJoinName(const std::string& name, std::string_view suffix) {
  if (name.size() <= 2 + suffix.size() || name.compare(0, 2, "Z_") != 0) return false;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
  const std::string number = name.substr(2, name.size() - 2 - suffix.size());
  return std::all_of(number.begin(), number.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// The SQL of the Z_PK of the note row n's folder, or "" when the store does not tell it. The
// note's ZFOLDER where it has one; iOS 9 files notes in folders through a join table
// Z_<n>NOTES (Z_<n>FOLDERS, Z_<m>NOTES) instead.
std::string folderIdOf(const SqliteDatabase& db, const std::vector<std::string>& columns) {
  if (hasColumn(columns, "ZFOLDER")) return "n.ZFOLDER";
  SqliteStatement tables = db.prepare("SELECT name FROM sqlite_master WHERE type = 'table'");
  while (tables.step()) {
    const std::string table = tables.columnText(0).value_or("");
    if (!isJoinName(table, "NOTES")) continue;
    std::string folders, notes;
    for (const auto& column : db.columnsOf(table)) {
      if (isJoinName(column, "FOLDERS")) folders = column;
      if (isJoinName(column, "NOTES")) notes = column;
    }
    if (!folders.empty() && !notes.empty()) {
      return "(SELECT " + folders + " FROM " + table + " WHERE " + notes + " = n.Z_PK LIMIT 1)";
    }
  }
  return "";
}

// The query of the store's notes in the columns of CurrentColumn, or "" when the store lacks
// what a note needs (its note data).
std::string currentNotesQuery(const SqliteDatabase& db) {
  const auto columns = db.columnsOf("ZICCLOUDSYNCINGOBJECT");
  const auto dataColumns = db.columnsOf("ZICNOTEDATA");
  if (!hasColumn(columns, "ZNOTEDATA") || !hasColumn(dataColumns, "ZDATA")) return "";
  const auto titles = numberedColumns(columns, "ZTITLE", false);
  const std::string folderId = folderIdOf(db, columns);
  const bool hasFolder = !folderId.empty();
  const bool hasOwner = hasColumn(columns, "ZOWNER");
  const std::string folderJoin =
      hasFolder ? " LEFT JOIN ZICCLOUDSYNCINGOBJECT f ON f.Z_PK = " + folderId : "";
  const char* accountJoin =
      hasFolder && hasOwner ? " LEFT JOIN ZICCLOUDSYNCINGOBJECT a ON a.Z_PK = f.ZOWNER" : "";
  const bool hasName = hasFolder && hasOwner && hasColumn(columns, "ZNAME");
  std::string deleted = hasColumn(columns, "ZMARKEDFORDELETION")
                            ? "coalesce(n.ZMARKEDFORDELETION,0) = 1"
                            : std::string("0");
  // The Recently Deleted folder is of folder type 1.
  if (hasFolder && hasColumn(columns, "ZFOLDERTYPE")) {
    deleted += " OR coalesce(f.ZFOLDERTYPE,0) = 1";
  }
  return "SELECT " + firstOf("n", titles) + ", " +
         firstOf("n", numberedColumns(columns, "ZCREATIONDATE", true)) + ", " +
         firstOf("n", numberedColumns(columns, "ZMODIFICATIONDATE", true)) + ", " +
         (hasFolder ? firstOf("f", titles) : std::string("NULL")) + ", " +
         (hasName ? "a.ZNAME" : "NULL") + ", " +
         (hasColumn(columns, "ZISPASSWORDPROTECTED") ? "coalesce(n.ZISPASSWORDPROTECTED,0) = 1"
                                                     : "0") +
         ", " + deleted +
         ", d.ZDATA, n.Z_PK FROM ZICCLOUDSYNCINGOBJECT n LEFT JOIN ZICNOTEDATA d ON d.Z_PK = "
         "n.ZNOTEDATA" +
         folderJoin + accountJoin + " WHERE n.ZNOTEDATA IS NOT NULL ORDER BY n.Z_PK";
}

std::string dateOf(const SqliteStatement& row, int column) {
  return row.columnIsNull(column) ? std::string() : dateText(row.columnInt(column), 1);
}

std::shared_ptr<MzNoteNode> currentNoteFromRow(const SqliteStatement& row) {
  auto note = std::make_shared<MzNoteNode>();
  if (auto title = row.columnNonEmptyText(kCurrentTitle)) note->noteTitle = *title;
  note->createdDate = dateOf(row, kCurrentCreated);
  note->noteDate = dateOf(row, kCurrentModified);
  if (auto folder = row.columnNonEmptyText(kCurrentFolder)) note->folder = *folder;
  if (auto account = row.columnNonEmptyText(kCurrentAccount)) note->account = *account;
  note->locked = row.columnInt(kCurrentLocked) != 0;
  note->bDeleted = row.columnInt(kCurrentDeleted) != 0;
  if (!note->locked) {
    const NoteStoreBody body = readNoteStoreBody(row.columnRawBlob(kCurrentBody));
    if (body.read == NoteBodyRead::Text) note->noteContent = body.text;
    if (body.read == NoteBodyRead::TooLarge) note->noteContent = kNoteBodyTooLargeMark;
  }
  return note;
}

StepOutcome scanCurrentNotes(ScanContext& scan, DatabaseLocation location) {
  StepDatabase database(scan, std::move(location), devicedb::deviceFileName(devicedb::kNoteStore));
  if (database.open()) {
    const std::string sql = currentNotesQuery(database.db());
    if (sql.empty()) {
      database.noteFailedRead("no note data in the store");
    } else {
      auto attachments = readNoteAttachments(database.db(), scan.lists.treeFileArray);
      SqliteStatement rows = database.db().prepare(sql);
      if (!rows.valid()) database.noteFailedRead("cannot query the notes of the store");
      while (rows.step()) {
        auto note = currentNoteFromRow(rows);
        note->origin = RecordOrigin::live(database.fileName(), "ZICCLOUDSYNCINGOBJECT",
                                          rows.columnInt(kCurrentId));
        if (auto it = attachments.find(rows.columnInt(kCurrentId)); it != attachments.end()) {
          note->attachments = std::move(it->second);
        }
        const char* name = note->bDeleted ? "ScanDelNoteInfo" : "ScanNoteInfo";
        scan.nc.post(name, std::move(note));
      }
      database.checkRead(rows);
    }
  }
  scan.postProgress(70);
  return database.outcome();
}

}  // namespace

StepOutcome scanNoteThread(ScanContext& scan) {
  if (!scan.backupFolder.empty()) {
    const std::vector<DatabaseCandidate> current = {
        {fileKeyFor(devicedb::kNoteStore.domain, devicedb::kNoteStore.path),
         devicedb::kNoteStore.domain, devicedb::kNoteStore.path}};
    if (auto location = locateDatabase(scan.backupFolder, current, scan.lists.treeFileArray)) {
      return scanCurrentNotes(scan, std::move(*location));
    }
  }
  StepDatabase database(scan, notesCandidates(), "NoteDB is not exist");
  if (!database.location()) return database.outcome();
  if (database.open()) {
    // The older layout's text first; the Core Data text only when that one cannot run.
    SqliteStatement rows = database.db().prepare(kNotesDbQuery);
    const char* table = "note";
    if (!rows.valid()) {
      rows = database.db().prepare(kCoreDataQuery);
      table = "ZNOTE";
    }
    const std::string fileName = database.fileName();
    while (rows.step()) {
      auto note = noteFromRow(rows);
      note->origin = RecordOrigin::live(fileName, table, rows.columnInt(kRowIdColumn));
      scan.nc.post("ScanNoteInfo", std::move(note));
    }
    database.checkRead(rows);
  }
  scan.postProgress(70);
  return database.outcome();
}
