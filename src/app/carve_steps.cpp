#include "app/carve_steps.h"

#include <unistd.h>

#include <algorithm>
#include <any>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/schema_carve_step.h"
#include "base/log.h"
#include "carve/deleted_bookmarks_scanner.h"
#include "carve/deleted_calendar_scanner.h"
#include "carve/deleted_calls_scanner.h"
#include "carve/deleted_contacts_scanner.h"
#include "carve/deleted_messages_scanner.h"
#include "carve/deleted_notes_scanner.h"
#include "carve/page_walk.h"
#include "catalogue/stored_file.h"
#include "catalogue/stored_plaintext.h"
#include "extract/current_calendar.h"
#include "extract/device_databases.h"
#include "extract/name_lookup.h"
#include "extract/step_database.h"

namespace {

// A step's database as the carvers read it, and how opening it went.
struct CarveOpening {
  std::optional<CarveDatabase> db;
  std::optional<DatabaseLocation> location;
  StepOutcome outcome;
  bool foreignLayout = false;  // the tables are of a layout the carver was not made for
};

using LayoutTest = bool (*)(const SqliteDatabase&);

// Finds the database by `candidates` (logging `missingLog` when the backup has none), folds
// its log into the private copy and maps the copy. A copy SQLite cannot open is carved all
// the same. When `foreign` says the open database's tables are of a layout the carver does not
// know, nothing is mapped and the opening says so.
CarveOpening openCarveDatabase(ScanContext& scan, const std::vector<DatabaseCandidate>& candidates,
                               const char* missingLog, LayoutTest foreign = nullptr) {
  CarveOpening out;
  StepDatabase database(scan, candidates, missingLog);
  database.open(StepDatabase::Log::Commit);
  out.outcome = database.outcome();
  out.location = database.location();
  if (database.copyPath().empty()) return out;
  if (foreign != nullptr && database.isOpen() && foreign(database.db())) {
    out.foreignLayout = true;
    return out;
  }
  auto image = DatabaseImage::load(database.copyPath());
  if (!image) {
    const std::string reason =
        std::string("cannot read the database for deleted records (") + std::strerror(errno) + ")";
    scan.databases.report(out.outcome.database, reason);
    out.outcome.end = StepEnd::Unreadable;
    out.outcome.reason = reason;
    return out;
  }
  out.db = CarveDatabase::fromImage(std::move(*image));
  out.db->fileName = database.fileName();
  return out;
}

// Byte 18 of the database as the device wrote it. The private copy cannot say: folding the
// log in switches the copy to write-ahead logging whatever the device used.
std::optional<bool> deviceWroteWal(const std::string& backupFolder, const std::string& storedFile) {
  StoredPlaintext file = StoredPlaintext::open(backupFolder, storedFile);
  const auto header = file.readPrefix(19);
  if (!header || header->size() < 19) return std::nullopt;
  return (*header)[18] == 0x02;
}

// The signature carver names the values of a person whose row it did not find "Unknown".
bool isNameless(const MzContactNode& contact) {
  return contact.contactName.empty() || contact.contactName == "Unknown";
}

bool carriesNothing(const MzContactNode& contact) {
  return contact.values.empty() && contact.contactPhone.empty() && contact.contactEmail.empty() &&
         contact.contactHomepage.empty() && contact.contactAdress.empty() &&
         contact.contactCompany.empty() && contact.contactNote.empty() &&
         contact.contactBirthday.empty() && (!contact.imageData || contact.imageData->empty());
}

// A value with a control byte in it was cut from the wrong place (a length or type byte
// taken into the text): no number, address or web page holds one.
bool holdsControlBytes(const MzContactNode& contact) {
  for (const MzContactValue& value : contact.values) {
    for (const char c : value.value) {
      if (static_cast<unsigned char>(c) < 0x20) return true;
    }
  }
  return false;
}

bool hasReadableText(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) > 0x20; });
}

}  // namespace

void carveDeletedContacts(const CarveDatabase& db, ScanContext& scan,
                          const carve::SignatureRecordCheck& check,
                          const std::unordered_set<std::int32_t>& knownPersons) {
  const DelContactSink sink{
      [&scan, &check, &knownPersons](const std::shared_ptr<MzContactNode>& contact) {
        // A contact in a live person's cell is that person; one the schema carver read alike
        // at the same place (its name's parts in another order) is its record.
        if (check.inLiveCell(contact->origin) ||
            check.readsAlike(contact->origin, checkedText(*contact))) {
          return;
        }
        // One without a name adds no one when it carries nothing, when its values are misread
        // or a known person's, or when the schema carver read its place otherwise.
        if (isNameless(*contact) && (carriesNothing(*contact) || holdsControlBytes(*contact) ||
                                     knownPersons.count(contact->rowid) != 0 ||
                                     check.misreads(contact->origin, checkedText(*contact)))) {
          return;
        }
        scan.nc.post("ScanDelContactInfo", contact);
      },
      [&scan](std::int32_t percent) { scan.postProgress(percent); }};
  carveDeletedContacts(db, scan.bIOS7DeviceNode, scan.lists, sink);
}

namespace {

// The schema carver's records of the step's database, made before the signature carver runs
// so that its records can be checked against them, and posted after its records.
SchemaCarvedRecords schemaRecordsOf(ScanContext& scan, const CarveOpening& opened,
                                    SchemaCategory category) {
  if (!opened.db || !opened.location) return {};
  return carveSchemaRecords(scan, *opened.location, category);
}

// The persons whose values are accounted for: the live contacts' rows (the address book
// never reuses a person's row id) and the persons the schema carver read with their row id.
std::unordered_set<std::int32_t> knownPersonIds(const ScanLists& lists,
                                                const SchemaCarvedRecords& schema) {
  std::unordered_set<std::int32_t> ids;
  for (const auto& contact : lists.contactArray) {
    if (contact->rowid > 0) ids.insert(contact->rowid);
  }
  for (const std::any& record : schema.records) {
    const auto* contact = std::any_cast<std::shared_ptr<MzContactNode>>(&record);
    if (contact != nullptr && (*contact)->rowid > 0) ids.insert((*contact)->rowid);
  }
  return ids;
}

}  // namespace

StepOutcome scanDelContactThread(ScanContext& scan) {
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kContactsKey, devicedb::kContacts.domain, devicedb::kContacts.path}};
  CarveOpening opened = openCarveDatabase(scan, candidates, "contactDB is not exist");
  SchemaCarvedRecords schema = schemaRecordsOf(scan, opened, SchemaCategory::Contacts);
  if (opened.db) {
    carveDeletedContacts(*opened.db, scan, schema.check, knownPersonIds(scan.lists, schema));
  }
  postSchemaCarvedRecords(scan, schema);
  return opened.outcome;
}

StepOutcome scanDelMessageThread(ScanContext& scan) {
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kMessagesKey, devicedb::kMessages.domain, devicedb::kMessages.path}};
  CarveOpening opened = openCarveDatabase(scan, candidates, "messageDB is not exist");
  if (!opened.db) return opened.outcome;
  bool wal = opened.db->isWalFile();
  // Before the iOS 6 layout the log header of the stored file, not of the copy, says how the
  // device wrote the database.
  if (!scan.currentNodeIsiOS6Version && opened.location) {
    wal = deviceWroteWal(scan.backupFolder, opened.location->storedFile).value_or(wal);
  }
  SchemaCarvedRecords schema = schemaRecordsOf(scan, opened, SchemaCategory::Messages);
  NameLookup& names = nameLookupOf(scan.lists);
  carve::DelMessageSink sink{[&names](const std::string& phone) { return names.name(phone); },
                             [&scan, &schema](std::shared_ptr<MzMessageNode> message) {
                               if (schema.check.misreads(message->origin, checkedText(*message))) {
                                 return;
                               }
                               scan.nc.post("ScanDelMessageInfo", std::any(std::move(message)));
                             }};
  carve::carveDeletedMessages(*opened.db,
                              carve::delMessageLayoutFor(scan.currentNodeIsiOS6Version, wal),
                              scan.lists.chatMessageArray, scan.lists.messageArray, sink);
  postSchemaCarvedRecords(scan, schema);
  scan.postProgress(80);
  return opened.outcome;
}

StepOutcome scanDelNoteThread(ScanContext& scan) {
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kNotesKey, devicedb::kNotes.domain, devicedb::kNotes.path},
      {devicedb::kNotesSecondKey, devicedb::kNotesSecond.domain, devicedb::kNotesSecond.path}};
  postSchemaCarvedRecords(scan, noteStoreCandidates(), SchemaCategory::Notes);
  CarveOpening opened = openCarveDatabase(scan, candidates, "NoteDB is not exist");
  if (!opened.db) return opened.outcome;
  carveDeletedNotePages(*opened.db, opened.db->isWalFile(), scan.bIOS7DeviceNode,
                        scan.lists.noteArray, scan.lists.noteValueArray);
  for (auto& note : assembleDeletedNotes(scan.lists.noteArray, scan.lists.noteValueArray)) {
    // A note read with neither title nor text (control bytes at most) is nothing to give back.
    if (!hasReadableText(note->noteTitle) && !hasReadableText(note->noteContent) &&
        note->attachments.empty()) {
      continue;
    }
    scan.nc.post("ScanDelNoteInfo", std::move(note));
  }
  if (opened.location) postSchemaCarvedRecords(scan, *opened.location, SchemaCategory::Notes);
  scan.postProgress(85);
  return opened.outcome;
}

StepOutcome scanDelCallHistoryThread(ScanContext& scan) {
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kCallsKey, devicedb::kCalls.domain, devicedb::kCalls.path},
      {devicedb::kCallsSecondKey, devicedb::kCallsSecond.domain, devicedb::kCallsSecond.path}};
  // The current call store is carved by its schema alone, whether call_history.db is there.
  postSchemaCarvedRecords(scan, callStoreCandidates(), SchemaCategory::Calls);
  CarveOpening opened = openCarveDatabase(scan, candidates, "messageDB is not exist");
  if (!opened.db) return opened.outcome;
  SchemaCarvedRecords schema = schemaRecordsOf(scan, opened, SchemaCategory::Calls);
  NameLookup& names = nameLookupOf(scan.lists);
  // The second carver's own lookup over the same contacts: the lookups remember answers as
  // they go and are not shared between threads.
  auto secondNames = std::make_shared<NameLookup>(scan.lists.contactArray);
  CallCarvers carvers;
  carvers.secondNameOf = [secondNames](const std::string& phone) {
    return secondNames->name(phone);
  };
  carveDeletedCalls(
      *opened.db, scan.currentNodeIsiOS6Version,
      [&names](const std::string& phone) { return names.name(phone); },
      [&scan, &schema](std::shared_ptr<MzCallHistoryNode> call) {
        if (schema.check.misreads(call->origin, checkedText(*call))) return;
        scan.nc.post("ScanDelCallHistoryInfo", std::move(call));
      },
      carvers);
  postSchemaCarvedRecords(scan, schema);
  scan.postProgress(90);
  return opened.outcome;
}

StepOutcome ScanDelBookMarkThread(ScanContext& scan) {
  // Only Bookmarks.db: the second key of the notes database would have this step carve
  // notes as bookmarks.
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kBookmarksKey, devicedb::kBookmarks.domain, devicedb::kBookmarks.path}};
  // Safari's History.db is carved by its schema alone, whether Bookmarks.db is there.
  postSchemaCarvedRecords(scan, historyDatabaseCandidates(), SchemaCategory::Bookmarks);
  CarveOpening opened = openCarveDatabase(scan, candidates, "NoteDB is not exist");
  if (!opened.db) return opened.outcome;
  for (auto& bookmark : carveDeletedBookmarks(*opened.db)) {
    if (isTopBookmarkFolder(*bookmark)) continue;
    scan.nc.post("scanDelBookMarkInfo", std::move(bookmark));
  }
  if (opened.location) postSchemaCarvedRecords(scan, *opened.location, SchemaCategory::Bookmarks);
  scan.postProgress(95);
  return opened.outcome;
}

StepOutcome ScanDelCalenderThread(ScanContext& scan) {
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kCalendarKey, devicedb::kCalendar.domain, devicedb::kCalendar.path}};
  // The signature carver reads the record layouts of the iOS 4 to 7 calendar. On the tables
  // of current devices it cuts the fields in the wrong places and would show text fragments
  // dated 2001 as deleted events, so those databases are not carved by it.
  CarveOpening opened =
      openCarveDatabase(scan, candidates, "NoteDB is not exist", hasCurrentCalendarTable);
  if (opened.foreignLayout) {
    applog::line(
        "Calendar: deleted events of the current calendar tables are carved by their schema only");
    if (opened.location) postSchemaCarvedRecords(scan, *opened.location, SchemaCategory::Calendar);
    scan.postProgress(100);
    return opened.outcome;
  }
  if (!opened.db) return opened.outcome;
  SchemaCarvedRecords schema = schemaRecordsOf(scan, opened, SchemaCategory::Calendar);
  carveDeletedCalendarEvents(*opened.db, opened.db->isWalFile(), scan.currentNodeIsiOS6Version,
                             [&scan, &schema](std::shared_ptr<MzCalenderNode> event) {
                               if (schema.check.misreads(event->origin, checkedText(*event)))
                                 return;
                               scan.nc.post("scanDelCalenderInfo", std::move(event));
                             });
  postSchemaCarvedRecords(scan, schema);
  scan.postProgress(100);
  return opened.outcome;
}
