// The product's records made from the rows the schema-aware carver recovers (schema_carver.h).
//
// Each function reads the rows of its category's tables by column name, so every generation
// of a database whose tables carry those names is read by the same code: a column a
// generation lacks, or that a record lost, leaves its field empty. No value is made up; the
// dates, the direction of a message and the call's duration text are derived as the live
// scanners derive them (base/conversions.h, extract/message_direction.h, calls_scanner.h).
//
// Every record carries the origin of the row its main values came from (originOf()): the
// database, log or journal file, the page and the offset of the cell, the kind of place, and
// for a log frame its number, its commit and whether its checksum holds.
//
// Rows are joined to the rows they refer to: to the live rows the caller hands in
// (SchemaRecordJoins, read from the database as it is now) or to rows carved beside them.
//
//   category   | tables                                      | record
//   messages   | message (+ handle)                          | MzMessageNode
//   contacts   | ABPerson, ABMultiValue                      | MzContactNode, one per person
//   calls      | call, ZCALLRECORD                           | MzCallHistoryNode
//   notes      | note + note_bodies, ZNOTE + ZNOTEBODY,      | MzNoteNode
//              | ZICCLOUDSYNCINGOBJECT + ZICNOTEDATA         |
//   bookmarks  | bookmarks, history_items + history_visits   | MzBookMarkNode
//   calendar   | CalendarItem (+ Location)                   | MzCalenderNode
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "carve/schema_carver.h"
#include "carve/table_schema.h"
#include "extract/item_records.h"

namespace carve {

// What the live database says about the rows carved rows refer to.
struct SchemaRecordJoins {
  std::map<std::int64_t, std::string> handleAddresses;  // handle ROWID -> its address (id)
  std::map<std::int64_t, std::string> personNames;      // ABPerson ROWID -> the contact's name
  std::map<std::int64_t, std::string> historyUrls;      // history_items id -> url
  std::map<std::int64_t, std::string> locationTitles;   // Location ROWID -> title
  // The chats of a current messages database, by ROWID, and the one-to-one chat of each
  // address that no other chat has (the live messages name them).
  std::map<std::int64_t, std::shared_ptr<const MzChatInfo>> chats;
  std::map<std::string, std::shared_ptr<const MzChatInfo>> onlyChatOfAddress;
  // The contact's name for a phone number or address (NameLookup::name), none when no
  // contact has it. Not set: no name is looked up.
  std::function<std::optional<std::string>(const std::string&)> nameOf;
};

// Where a carved row lay, as the records say it.
RecordOrigin originOf(const CarvedRow& row);

using MessageRecords = std::vector<std::shared_ptr<MzMessageNode>>;
using ContactRecords = std::vector<std::shared_ptr<MzContactNode>>;
using CallRecords = std::vector<std::shared_ptr<MzCallHistoryNode>>;
using NoteRecords = std::vector<std::shared_ptr<MzNoteNode>>;
using BookmarkRecords = std::vector<std::shared_ptr<MzBookMarkNode>>;
using EventRecords = std::vector<std::shared_ptr<MzCalenderNode>>;

// One message per carved message row that holds a text, an address or a handle. The
// iOS 4/5 table (address, flags) and the iOS 6+ table (handle_id, is_from_me, service) are
// both read; a date above 10^11 counts nanoseconds from 2001, as the live scanner reads it.
MessageRecords schemaMessages(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                              const SchemaRecordJoins& joins);

// One contact per carved person, with the carved phone numbers, e-mail and web addresses
// whose record_id is its row id; and one, without a name, per person whose values were carved
// but whose row was not. A value repeated within one contact is listed once (a number once by
// its digits). Earlier versions of live persons are left out: a carved row with a live row id
// (or, without a row id, with a live person's name) and carved values of a live person. With
// `earlier`, they are put there instead, each with the live person's row id: a row without
// one takes that of the one live person of its name (none when two live persons share it).
ContactRecords schemaContacts(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                              const SchemaRecordJoins& joins, ContactRecords* earlier = nullptr);

// One call per carved call or ZCALLRECORD row.
CallRecords schemaCalls(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                        const SchemaRecordJoins& joins);

// One note per carved body, with the title and date of its carved note row when one
// survives; one per carved note row without a carved body, with its title alone.
NoteRecords schemaNotes(const TableSchema& schema, const std::vector<CarvedRow>& rows);

// One bookmark per carved bookmarks row with a URL; one history entry ("History") per
// carved history item, with the title and time of its latest carved visit, and one per
// carved visit whose item is live or carved and has no record of its own yet.
BookmarkRecords schemaBookmarks(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                                const SchemaRecordJoins& joins);

// One event per carved CalendarItem row, its location's title from a live or carved Location.
EventRecords schemaEvents(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                          const SchemaRecordJoins& joins);

}  // namespace carve
