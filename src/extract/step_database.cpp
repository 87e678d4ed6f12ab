#include "extract/step_database.h"

#include "base/log.h"
#include "catalogue/stored_file.h"

const char* stepEndText(StepEnd end) {
  switch (end) {
    case StepEnd::Done:
      return "done";
    case StepEnd::DatabaseMissing:
      return "database missing";
    case StepEnd::Unreadable:
      return "unreadable";
    case StepEnd::Truncated:
      return "truncated";
  }
  return "done";
}

StepDatabase::StepDatabase(ScanContext& scan, const std::vector<DatabaseCandidate>& candidates,
                           const char* missingLog)
    : scan_(scan) {
  if (scan.backupFolder.empty()) return;
  location_ = locateDatabase(scan.backupFolder, candidates, scan.lists.treeFileArray);
  if (!location_) {
    if (missingLog != nullptr) applog::line(missingLog);
    outcome_.end = StepEnd::DatabaseMissing;
    if (!candidates.empty()) {
      outcome_.database = candidates.front().domain + "-" + candidates.front().path;
    }
    return;
  }
  outcome_.database = location_->deviceFile();
}

StepDatabase::StepDatabase(ScanContext& scan, std::optional<DatabaseLocation> location,
                           const std::string& missing)
    : scan_(scan), location_(std::move(location)) {
  outcome_.end = location_ ? StepEnd::Done : StepEnd::DatabaseMissing;
  outcome_.database = location_ ? location_->deviceFile() : missing;
}

bool StepDatabase::open(Log log) {
  if (!location_) return false;
  ScanContext& scan = scan_;
  const std::string name = location_->deviceFile();
  const std::string walKey = fileKeyFor(location_->domain, location_->path + "-wal");
  const auto copy = log == Log::Commit
                        ? scan.databases.commitDB(location_->storedFile, walKey, name)
                        : scan.databases.readOnlyCopy(location_->storedFile, walKey, name);
  const DatabasePreparer::CopyState state = scan.databases.stateOf(name);
  if (!copy) {
    outcome_.end = StepEnd::Unreadable;
    outcome_.reason = state.reason.empty() ? "the database could not be copied" : state.reason;
    return false;
  }
  copy_ = *copy;
  db_ = SqliteDatabase::openReadOnly(*copy);
  if (state.condition == DatabasePreparer::CopyCondition::CutShort) {
    outcome_.end = StepEnd::Truncated;
    outcome_.reason = state.reason;
  } else if (state.condition == DatabasePreparer::CopyCondition::Unreadable || !db_.isOpen()) {
    outcome_.end = StepEnd::Unreadable;
    outcome_.reason = state.reason.empty() ? "cannot open the database" : state.reason;
  }
  return db_.isOpen();
}

void StepDatabase::checkRead(const SqliteStatement& rows) {
  if (rows.failed()) noteFailedRead(rows.error());
}

void StepDatabase::noteFailedRead(const std::string& error) {
  // A database cut short fails where its pages end; it stays "truncated".
  if (outcome_.end != StepEnd::Done) return;
  outcome_.end = StepEnd::Unreadable;
  outcome_.reason = "cannot read the database (" + error + ")";
}

std::string StepDatabase::fileName() const {
  if (!location_) return "";
  return location_->fileName();
}
