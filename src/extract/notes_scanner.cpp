#include "extract/notes_scanner.h"

#include <memory>
#include <optional>
#include <vector>

#include "base/conversions.h"
#include "base/log.h"
#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/database_location.h"
#include "extract/device_databases.h"
#include "extract/step_database.h"

namespace {

// notes.db (NOTE and NOTE_BODIES), then the Core Data store's ZNOTE and ZNOTEBODY.
constexpr const char* kNotesDbQuery =
    "select TITLE,SUMMARY,MODIFICATION_DATE,CREATION_DATE,DATA from note LEFT JOIN NOTE_BODIES "
    "ON NOTE.ROWID = NOTE_BODIES.NOTE_ID";
constexpr const char* kCoreDataQuery =
    "select ZTITLE,ZSUMMARY,ZMODIFICATIONDATE,ZCREATIONDATE,ZCONTENT from znote LEFT JOIN "
    "ZNOTEBODY ON ZNOTE.Z_PK = ZNOTEBODY.Z_PK";

constexpr int kTitleColumn = 0;
constexpr int kModificationDateColumn = 2;
constexpr int kBodyColumn = 4;

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

}  // namespace

StepOutcome scanNoteThread(ScanContext& scan) {
  StepDatabase database(scan, notesCandidates(), "NoteDB is not exist");
  if (!database.location()) return database.outcome();
  if (database.open()) {
    // The older layout's text first; the Core Data text only when that one cannot run.
    SqliteStatement rows = database.db().prepare(kNotesDbQuery);
    if (!rows.valid()) rows = database.db().prepare(kCoreDataQuery);
    while (rows.step()) scan.nc.post("ScanNoteInfo", noteFromRow(rows));
    database.checkRead(rows);
  }
  scan.postProgress(70);
  return database.outcome();
}
