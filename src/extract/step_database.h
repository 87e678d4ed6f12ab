// Opening the database of a scan step, and telling how reading it went.
//
// Every live scanner does the same: find its database by the fixed file keys (then by device
// path), copy it with its log into the scan's private folder, open the copy read-only, read
// its rows. StepDatabase does the first three and keeps the step's outcome: missing, a copy
// that could not be made or opened (unreadable) or that is cut short (truncated), and, once
// the rows are read, a statement that failed part way (unreadable, with SQLite's message).
#pragma once

#include <optional>
#include <vector>

#include "base/sqlite_reader.h"
#include "extract/database_location.h"
#include "extract/scan_context.h"
#include "extract/step_outcome.h"

class StepDatabase {
 public:
  // Locates the database by `candidates`. `missingLog`, when given, is logged when the
  // backup holds no such database.
  StepDatabase(ScanContext& scan, const std::vector<DatabaseCandidate>& candidates,
               const char* missingLog = nullptr);
  // A database the step found itself; `missing` names it when `location` is none.
  StepDatabase(ScanContext& scan, std::optional<DatabaseLocation> location,
               const std::string& missing);

  // Whether the log is folded into the copy or left beside it.
  enum class Log { Commit, Keep };
  // Copies the database found and opens the copy; false when it is not open.
  bool open(Log log = Log::Commit);

  bool isOpen() const { return db_.isOpen(); }
  const SqliteDatabase& db() const { return db_; }
  const std::optional<DatabaseLocation>& location() const { return location_; }
  // The private copy, or "" when none was made.
  const std::string& copyPath() const { return copy_; }
  // The database's file name as the device names it (the last component of its device
  // path, "sms.db"), for the origins of the records read from it; "" when none was found.
  std::string fileName() const;

  // Notes a statement whose rows have been read: one that failed makes the step unreadable.
  void checkRead(const SqliteStatement& rows);
  // The same for rows that stopped with SQLite's message `error`.
  void noteFailedRead(const std::string& error);

  const StepOutcome& outcome() const { return outcome_; }

 private:
  ScanContext& scan_;
  std::optional<DatabaseLocation> location_;
  std::string copy_;
  SqliteDatabase db_;
  StepOutcome outcome_;
};
