// The schema-aware carver's part of a deleted-record step: it reads the step's database as
// the backup holds it, with its write-ahead log and its rollback journal unfolded (never the
// private copy, whose log a live step may already have checkpointed), carves the tables of one
// category and posts the records by the notification of that category's deleted records.
//
// The files are read through StoredPlaintext, so an encrypted backup's files are decrypted in
// memory; nothing is written anywhere. The log is the stored file of the device path with
// "-wal" appended, else "<stored file>-wal"; the journal likewise with "-journal".
#pragma once

#include <any>
#include <optional>
#include <string>
#include <vector>

#include "carve/carve_sources.h"
#include "carve/signature_record_check.h"
#include "extract/database_location.h"
#include "extract/scan_context.h"

enum class SchemaCategory { Messages, Contacts, Calls, Notes, Bookmarks, Calendar };

// The database of `location` with its log and journal as the backup stores them; none when
// the database cannot be read.
std::optional<carve::CarveSources> readStoredCarveSources(const std::string& backupFolder,
                                                          const DatabaseLocation& location);

// The records of one category the schema carver made from a database, not yet posted, and
// the check of the signature carver's records of the same database against them.
struct SchemaCarvedRecords {
  const char* notification = nullptr;  // the category's deleted-records notification
  std::vector<std::any> records;       // each as the notification posts it
  carve::SignatureRecordCheck check;
  // Earlier versions of live contacts, each with the live person's row id, posted by
  // "ScanContactEarlierVersionInfo".
  std::vector<std::any> earlierContacts;
};

// What a record of each category reads, as the check compares it between the two carvers:
// a message's text, a call's number and date, an event's title and start ("" when the text,
// number or title is missing: nothing to compare).
std::string checkedText(const MzMessageNode& message);
// A contact's name as the set of its words (the carvers order its parts differently) and its
// numbers as a set.
std::string checkedText(const MzContactNode& contact);
std::string checkedText(const MzCallHistoryNode& call);
std::string checkedText(const MzCalenderNode& event);

// Carves the tables of `category` from the database of `location` and makes the records;
// none (and a check that leaves everything) when the database cannot be read.
SchemaCarvedRecords carveSchemaRecords(ScanContext& scan, const DatabaseLocation& location,
                                       SchemaCategory category);
// Posts them; returns how many.
std::size_t postSchemaCarvedRecords(ScanContext& scan, SchemaCarvedRecords& carved);

// Carves the tables of `category` from the database of `location` and posts the records.
// Returns how many records were posted.
std::size_t postSchemaCarvedRecords(ScanContext& scan, const DatabaseLocation& location,
                                    SchemaCategory category);
// The same for the first database `candidates` find in the backup; 0 when there is none.
std::size_t postSchemaCarvedRecords(ScanContext& scan,
                                    const std::vector<DatabaseCandidate>& candidates,
                                    SchemaCategory category);

// The databases of the current layouts the signature carvers do not read, carved by the
// schema carver alone: the call store, the current Notes store and Safari's History.db.
std::vector<DatabaseCandidate> callStoreCandidates();
std::vector<DatabaseCandidate> noteStoreCandidates();
std::vector<DatabaseCandidate> historyDatabaseCandidates();
