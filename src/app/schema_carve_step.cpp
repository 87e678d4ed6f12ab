#include "app/schema_carve_step.h"

#include <any>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "base/log.h"
#include "carve/schema_carver.h"
#include "carve/schema_records.h"
#include "carve/table_schema.h"
#include "catalogue/stored_file.h"
#include "catalogue/stored_plaintext.h"
#include "extract/contact_phones.h"
#include "extract/device_databases.h"
#include "extract/name_lookup.h"
#include "extract/step_database.h"

namespace {

// The whole plaintext of a stored file; none when it is missing or cannot be read.
std::optional<DatabaseImage> readStored(const std::string& backupFolder, const std::string& path) {
  StoredPlaintext file = StoredPlaintext::open(backupFolder, path);
  if (!file.isOpen()) return std::nullopt;
  const auto size = file.size();
  if (!size || *size == 0) return std::nullopt;
  // A plain file is read straight into the image's memory; a file of an encrypted backup is
  // decrypted on the way.
  if (!file.encrypted()) return DatabaseImage::read(file.fd(), static_cast<std::size_t>(*size));
  auto bytes = file.readPrefix(static_cast<std::size_t>(*size));
  if (!bytes) return std::nullopt;
  return DatabaseImage(std::move(*bytes));
}

// The stored file of the database's companion `suffix` ("-wal", "-journal"): the file of its
// device path's key, else the one beside the database.
std::optional<DatabaseImage> readCompanion(const std::string& backupFolder,
                                           const DatabaseLocation& location,
                                           const std::string& suffix) {
  const std::string keyed =
      storedFilePath(backupFolder, fileKeyFor(location.domain, location.path + suffix));
  if (!keyed.empty()) {
    if (auto image = readStored(backupFolder, keyed)) return image;
  }
  return readStored(backupFolder, location.storedFile + suffix);
}

// The chats the live messages name, and for each address the one-to-one chat it alone has
// (an address that is also in a group chat, or in two chats, has none: a carved message of
// it could belong to either).
void addChatsOfLiveMessages(const RecordList<MzMessageNode>& messages,
                            carve::SchemaRecordJoins& joins) {
  std::map<std::string, int> chatsWith;
  for (const auto& message : messages) {
    if (message == nullptr || message->chat == nullptr) continue;
    if (!joins.chats.emplace(message->chat->rowId, message->chat).second) continue;
    for (const std::string& address : message->chat->participants) ++chatsWith[address];
  }
  for (const auto& [id, chat] : joins.chats) {
    if (chat->group || chat->participants.size() != 1) continue;
    if (chatsWith[chat->participants.front()] == 1) {
      joins.onlyChatOfAddress.emplace(chat->participants.front(), chat);
    }
  }
}

// The live rows carved rows refer to, read with SQL from the scan's private copy of the
// database (the log folded in: the rows as they are now). A table the database lacks gives
// nothing.
carve::SchemaRecordJoins joinsOf(ScanContext& scan, const DatabaseLocation& location) {
  carve::SchemaRecordJoins joins;
  StepDatabase database(scan, location, location.deviceFile());
  if (database.open(StepDatabase::Log::Commit)) {
    const SqliteDatabase& db = database.db();
    auto read = [&db](const char* sql, std::map<std::int64_t, std::string>& into) {
      SqliteStatement rows = db.prepare(sql);
      while (rows.valid() && rows.step()) {
        if (auto text = rows.columnNonEmptyText(1)) into.emplace(rows.columnInt(0), *text);
      }
    };
    read("select ROWID, id from handle", joins.handleAddresses);
    read("select id, url from history_items", joins.historyUrls);
    read("select ROWID, title from Location", joins.locationTitles);
    // The name as the live contacts show it: the first name, then the middle and the last
    // name each after a blank.
    SqliteStatement persons = db.prepare("select ROWID, First, Middle, Last from ABPerson");
    while (persons.valid() && persons.step()) {
      std::string name = persons.columnNonEmptyText(1).value_or("");
      for (int column : {2, 3}) {
        if (auto part = persons.columnNonEmptyText(column)) name += " " + *part;
      }
      joins.personNames.emplace(persons.columnInt(0), std::move(name));
    }
  }
  NameLookup& names = nameLookupOf(scan.lists);
  joins.nameOf = [&names](const std::string& phone) { return names.name(phone); };
  addChatsOfLiveMessages(scan.lists.messageArray, joins);
  return joins;
}

// The tables whose live cells the category's signature records are checked against: a live
// cell of them holds a live row, never a deleted record (a contact read there is the live
// contact, its numbers perhaps misread). Messages are not checked so: the live rows their
// signature carver reads have the live messages' key fields, which the results already
// leave out, and none of its false records lay in live cells on the builder's databases.
std::vector<std::string> liveCheckedTables(SchemaCategory category) {
  switch (category) {
    case SchemaCategory::Calls:
      return {"call", "ZCALLRECORD"};
    case SchemaCategory::Contacts:
      return {"ABPerson", "ABMultiValue"};
    case SchemaCategory::Calendar:
      return {"CalendarItem", "Event"};
    default:
      return {};
  }
}

// The records as the notification posts them, each one's principal text told to the check.
template <typename Records, typename Principal>
void keep(SchemaCarvedRecords& carved, const char* notification, Records records,
          Principal principal) {
  carved.notification = notification;
  for (auto& record : records) {
    carved.check.addText(record->origin, principal(*record));
    carved.records.emplace_back(std::move(record));
  }
}

}  // namespace

std::optional<carve::CarveSources> readStoredCarveSources(const std::string& backupFolder,
                                                          const DatabaseLocation& location) {
  auto database = readStored(backupFolder, location.storedFile);
  if (!database) return std::nullopt;
  return carve::CarveSources::read(location.fileName(), std::move(*database),
                                   readCompanion(backupFolder, location, "-wal"),
                                   readCompanion(backupFolder, location, "-journal"));
}

std::string checkedText(const MzMessageNode& message) { return message.messageContent; }

std::string checkedText(const MzContactNode& contact) {
  std::set<std::string> words;
  std::istringstream name(contact.contactName);
  for (std::string word; name >> word;) words.insert(word);
  std::string text;
  for (const std::string& word : words) text += word + ' ';
  text += '\x1f';
  for (const std::string& number : phoneNumberSet(contact)) text += number + ' ';
  return text;
}

std::string checkedText(const MzCallHistoryNode& call) {
  return call.callPhone.empty() ? "" : call.callPhone + '\x1f' + call.callDate;
}

std::string checkedText(const MzCalenderNode& event) {
  return event.calTitle.empty() ? "" : event.calTitle + '\x1f' + event.startDate;
}

SchemaCarvedRecords carveSchemaRecords(ScanContext& scan, const DatabaseLocation& location,
                                       SchemaCategory category) {
  SchemaCarvedRecords carved;
  const auto sources = readStoredCarveSources(scan.backupFolder, location);
  if (!sources) {
    applog::line("Schema carver: the database cannot be read");
    return carved;
  }
  const carve::TableSchema schema = carve::readTableSchema(sources->latest());
  carve::LiveCellSpans liveCells;
  const std::vector<carve::CarvedRow> rows = carve::carveTables(*sources, schema, {}, &liveCells);
  const carve::SchemaRecordJoins joins = joinsOf(scan, location);
  carved.check = carve::SignatureRecordCheck(rows, liveCells, schema, liveCheckedTables(category),
                                             sources->pageSize());
  switch (category) {
    case SchemaCategory::Messages:
      keep(carved, "ScanDelMessageInfo", carve::schemaMessages(schema, rows, joins),
           [](const MzMessageNode& r) { return checkedText(r); });
      break;
    case SchemaCategory::Contacts: {
      carve::ContactRecords earlier;
      keep(carved, "ScanDelContactInfo", carve::schemaContacts(schema, rows, joins, &earlier),
           [](const MzContactNode& r) { return checkedText(r); });
      for (auto& contact : earlier) carved.earlierContacts.emplace_back(std::move(contact));
      break;
    }
    case SchemaCategory::Calls:
      keep(carved, "ScanDelCallHistoryInfo", carve::schemaCalls(schema, rows, joins),
           [](const MzCallHistoryNode& r) { return checkedText(r); });
      break;
    case SchemaCategory::Notes:
      keep(carved, "ScanDelNoteInfo", carve::schemaNotes(schema, rows),
           [](const MzNoteNode& r) { return r.noteContent; });
      break;
    case SchemaCategory::Bookmarks:
      keep(carved, "scanDelBookMarkInfo", carve::schemaBookmarks(schema, rows, joins),
           [](const MzBookMarkNode& r) { return r.bookMarkURL; });
      break;
    case SchemaCategory::Calendar:
      keep(carved, "scanDelCalenderInfo", carve::schemaEvents(schema, rows, joins),
           [](const MzCalenderNode& r) { return checkedText(r); });
      break;
  }
  return carved;
}

std::size_t postSchemaCarvedRecords(ScanContext& scan, SchemaCarvedRecords& carved) {
  for (std::any& record : carved.records) scan.nc.post(carved.notification, std::move(record));
  for (std::any& record : carved.earlierContacts) {
    scan.nc.post("ScanContactEarlierVersionInfo", std::move(record));
  }
  carved.earlierContacts.clear();
  const std::size_t posted = carved.records.size();
  carved.records.clear();
  return posted;
}

std::size_t postSchemaCarvedRecords(ScanContext& scan, const DatabaseLocation& location,
                                    SchemaCategory category) {
  SchemaCarvedRecords carved = carveSchemaRecords(scan, location, category);
  return postSchemaCarvedRecords(scan, carved);
}

std::size_t postSchemaCarvedRecords(ScanContext& scan,
                                    const std::vector<DatabaseCandidate>& candidates,
                                    SchemaCategory category) {
  if (scan.backupFolder.empty()) return 0;
  const auto location = locateDatabase(scan.backupFolder, candidates, scan.lists.treeFileArray);
  return location ? postSchemaCarvedRecords(scan, *location, category) : 0;
}

std::vector<DatabaseCandidate> callStoreCandidates() {
  return {{devicedb::kCallStoreKey, devicedb::kCallStore.domain, devicedb::kCallStore.path}};
}

std::vector<DatabaseCandidate> noteStoreCandidates() {
  return {{fileKeyFor(devicedb::kNoteStore.domain, devicedb::kNoteStore.path),
           devicedb::kNoteStore.domain, devicedb::kNoteStore.path}};
}

std::vector<DatabaseCandidate> historyDatabaseCandidates() {
  constexpr const char* kPath = "Library/Safari/History.db";
  return {{fileKeyFor("AppDomain-com.apple.mobilesafari", kPath),
           "AppDomain-com.apple.mobilesafari", kPath},
          {fileKeyFor("HomeDomain", kPath), "HomeDomain", kPath}};
}
