// How one step of a scan ended.
//
// A step reads one device database (the deleted-record steps carve the same file). It ends as
// done, or without its database, or having read it only in part. The scan thread logs each
// step that did not end as done and names its database in the scan's problem list, so that a
// damaged database never passes for an empty category.
#pragma once

#include <string>

enum class StepEnd {
  Done,             // the database was read to its end (or the step needs none)
  DatabaseMissing,  // the backup holds no such database: nothing to read, nothing wrong
  Unreadable,       // the database could not be copied, opened or read; rows may be missing
  Truncated,        // the database is cut short; the rows that are there were read
};

struct StepOutcome {
  StepEnd end = StepEnd::Done;
  std::string database;  // the device file read ("HomeDomain-Library/SMS/sms.db"), "" for none
  std::string reason;    // why the step did not end as done, a few English words

  bool done() const { return end == StepEnd::Done; }
};

// "done", "database missing", "unreadable" or "truncated".
const char* stepEndText(StepEnd end);
