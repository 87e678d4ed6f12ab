#include "carve/schema_records.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <unordered_set>

#include "base/conversions.h"
#include "carve/carved_row_values.h"
#include "carve/value_arena.h"
#include "carve/worker_threads.h"
#include "extract/calls_scanner.h"
#include "extract/contact_phones.h"
#include "extract/message_direction.h"
#include "extract/messages_scanner.h"
#include "extract/note_body_text.h"
#include "extract/note_store_body.h"
#include "extract/typedstream.h"

namespace carve {
namespace {

// Seconds as a whole number, none when they lie outside what a date can be.
std::optional<std::int64_t> wholeSeconds(std::optional<double> value) {
  if (!value || *value < -1e12 || *value > 1e12) return std::nullopt;
  return static_cast<std::int64_t>(*value);
}

std::string dateOf(std::optional<double> seconds, int fileType) {
  const auto whole = wholeSeconds(seconds);
  return whole ? dateText(*whole, fileType) : std::string();
}

std::int32_t clampedSeconds(double value) {
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(value > kMax ? kMax : value < kMin ? kMin : value);
}

void appendWithBlank(std::string& field, const std::string& value) {
  field += ' ';
  field += value;
}

std::optional<std::string> lookUp(const SchemaRecordJoins& joins, const std::string& phone) {
  if (!joins.nameOf || phone.size() < 2) return std::nullopt;
  return joins.nameOf(phone);
}

// ---- messages -------------------------------------------------------------------------------

// The columns of the message table a message is made of, found once for all its rows.
struct MessageColumns {
  explicit MessageColumns(const ColumnNames& names)
      : text(names.column("text")),
        attributedBody(names.column("attributedBody")),
        handleId(names.column("handle_id")),
        date(names.column("date")),
        isFromMe(names.column("is_from_me")),
        service(names.column("service")),
        cacheHasAttachments(names.column("cache_has_attachments")),
        address(names.column("address")),
        flags(names.column("flags")),
        isMadrid(names.column("is_madrid")),
        madridHandle(names.column("madrid_handle")),
        madridFlags(names.column("madrid_flags")) {}

  Column text, attributedBody, handleId, date, isFromMe, service, cacheHasAttachments, address,
      flags, isMadrid, madridHandle, madridFlags;
};

// The message of one carved row, its contact's name not yet looked up; the record itself
// takes its memory from `memory`.
std::shared_ptr<MzMessageNode> messageOf(const RowValues& row, const MessageColumns& columns,
                                         const std::map<std::int64_t, std::string>& handles,
                                         const ArenaAllocator<MzMessageNode>& memory) {
  auto message = std::allocate_shared<MzMessageNode>(memory);
  message->origin = originOf(row.row());
  if (auto id = row.rowid()) message->rowId = static_cast<std::int32_t>(*id);
  if (auto text = row.text(columns.text)) {
    message->messageContent = std::move(*text);
  } else if (const SqlValue* body = row.value(columns.attributedBody);
             body != nullptr && body->kind == SqlValue::Kind::Blob && !body->bytes().empty()) {
    // Current devices keep many texts only in the archived attributed string.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(body->bytes().data());
    if (auto text = attributedBodyText(bytes, body->bytes().size()))
      message->messageContent = *text;
  }
  const bool chatLayout = row.value(columns.handleId) != nullptr;
  if (chatLayout) {
    if (auto date = row.integer(columns.date)) {
      const bool nanoseconds = *date > kNanosecondDateThreshold;
      message->messageDate = dateText(messageDateSeconds(*date), nanoseconds ? 1 : 0);
    }
    if (auto handle = row.integer(columns.handleId); handle && *handle > 0) {
      message->handle_id = static_cast<std::int32_t>(*handle);
      if (auto it = handles.find(*handle); it != handles.end()) message->messagePhone = it->second;
    }
    if (const SqlValue* fromMe = row.value(columns.isFromMe); fromMe && !fromMe->isNull()) {
      message->messageType = messageDirectionOfFromMe(row.integer(columns.isFromMe));
    } else {
      message->messageType = "unknown";
    }
    if (auto service = row.text(columns.service)) {
      message->service = *service;
      message->bImessage = *service != "SMS";
    }
    if (auto has = row.integer(columns.cacheHasAttachments)) message->isHasAttach = *has != 0;
  } else {
    if (auto date = row.integer(columns.date)) message->messageDate = dateText(*date, 0);
    if (auto address = row.text(columns.address)) message->messagePhone = *address;
    message->messageType = "unknown";
    if (auto flags = row.integer(columns.flags)) {
      message->messageType = messageDirectionOfFlags(*flags);
    }
    // iMessages of iOS 5 keep their address and direction in the madrid columns.
    if (row.integer(columns.isMadrid) == 1) {
      message->bImessage = true;
      if (auto handle = row.text(columns.madridHandle)) message->messagePhone = *handle;
      if (auto flags = row.integer(columns.madridFlags)) {
        message->messageType = messageDirectionOfFlags(*flags);
      }
    }
  }
  return message;
}

// ---- contacts -------------------------------------------------------------------------------

constexpr std::int64_t kPhoneProperty = 3;
constexpr std::int64_t kEmailProperty = 4;
constexpr std::int64_t kUrlProperty = 22;

std::string personName(const RowValues& row) {
  std::string name;
  for (const char* part : {"First", "Middle", "Last"}) {
    if (auto text = row.text(part)) {
      if (!name.empty()) name += ' ';
      name += *text;
    }
  }
  return name;
}

// Adds one carved value to a contact, each value once (a phone number once by its digits).
class ContactValueSet {
 public:
  explicit ContactValueSet(MzContactNode& contact) : contact_(contact) {}

  void add(std::int64_t property, const std::string& value) {
    MzContactValue::Kind kind;
    std::string* field = nullptr;
    if (property == kPhoneProperty) {
      kind = MzContactValue::Kind::Phone;
      field = &contact_.contactPhone;
    } else if (property == kEmailProperty) {
      kind = MzContactValue::Kind::Email;
      field = &contact_.contactEmail;
    } else if (property == kUrlProperty) {
      kind = MzContactValue::Kind::Url;
      field = &contact_.contactHomepage;
    } else {
      return;
    }
    std::string key(1, static_cast<char>(kind));
    key += kind == MzContactValue::Kind::Phone ? phoneNumberKey(value) : value;
    if (!seen_.insert(std::move(key)).second) return;
    appendWithBlank(*field, value);
    MzContactValue item;
    item.kind = kind;
    item.value = value;
    contact_.values.push_back(std::move(item));
  }

 private:
  MzContactNode& contact_;
  std::unordered_set<std::string> seen_;
};

// ---- notes ----------------------------------------------------------------------------------

std::string noteStoreText(std::string_view blob) {
  const NoteStoreBody body = readNoteStoreBody(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()));
  if (body.read == NoteBodyRead::TooLarge) return kNoteBodyTooLargeMark;
  return body.read == NoteBodyRead::Text ? body.text : std::string();
}

// The value of the first of `names` the row has one in.
std::optional<std::string> firstText(const RowValues& row,
                                     std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (auto text = row.text(name)) return text;
  }
  return std::nullopt;
}

std::optional<double> firstNumber(const RowValues& row, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (auto number = row.number(name)) return number;
  }
  return std::nullopt;
}

struct NoteHead {
  std::string title, date;
  bool used = false;
};

}  // namespace

RecordOrigin originOf(const CarvedRow& row) {
  if (row.logFrame > 0) {
    return RecordOrigin::logFrame(row.file, row.page, row.offset, row.logFrame, row.logCommit,
                                  row.badChecksum);
  }
  RecordOrigin::Place place = RecordOrigin::Place::None;
  switch (row.place) {
    case CarvedRecordPlace::kFreeblock:
      place = RecordOrigin::Place::Freeblock;
      break;
    case CarvedRecordPlace::kUnallocated:
      place = RecordOrigin::Place::Unallocated;
      break;
    case CarvedRecordPlace::kFreelist:
      place = RecordOrigin::Place::Freelist;
      break;
    case CarvedRecordPlace::kBeyondBtree:
      place = RecordOrigin::Place::BeyondBtree;
      break;
    case CarvedRecordPlace::kOverflow:
      place = RecordOrigin::Place::Overflow;
      break;
    case CarvedRecordPlace::kLogFrame:
      place = RecordOrigin::Place::LogFrame;
      break;
    case CarvedRecordPlace::kJournal:
      place = RecordOrigin::Place::Journal;
      break;
    case CarvedRecordPlace::kLiveOldVersion:
      place = RecordOrigin::Place::SupersededByLog;
      break;
  }
  return RecordOrigin::carved(row.file, row.page, row.offset, place);
}

MessageRecords schemaMessages(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                              const SchemaRecordJoins& joins) {
  std::map<std::int64_t, std::string> handles = joins.handleAddresses;
  for (const RowValues& handle : rowsOf(schema, rows, {"handle"})) {
    const auto id = handle.rowid();
    const auto address = handle.text("id");
    if (id && address) handles.emplace(*id, *address);  // a live row wins
  }
  // A carved message's chat: its chat_message_join row (live ones went with the message),
  // else the only chat its address has.
  std::map<std::int64_t, std::int64_t> chatOfMessage;
  for (const RowValues& join : rowsOf(schema, rows, {"chat_message_join"})) {
    const auto chat = join.integer("chat_id");
    const auto message = join.integer("message_id");
    if (chat && message) chatOfMessage.emplace(*message, *chat);
  }
  // The messages are made on every core; what they join only is read meanwhile. Names are
  // looked up afterwards on this thread, which is the one `joins.nameOf` is called on.
  // Each thread's records take their memory from an arena of its own that they keep.
  const std::vector<RowValues> messageRows = rowsOf(schema, rows, {"message"});
  MessageRecords made(messageRows.size());
  const unsigned threads = messageRows.size() > 256 ? workerThreads() : 1u;
  std::vector<std::shared_ptr<ValueArena>> arenas;
  for (unsigned t = 0; t < threads; ++t) arenas.push_back(std::make_shared<ValueArena>());
  std::atomic<std::size_t> next{0};
  // The rows of one table share their column names.
  const std::optional<MessageColumns> columns =
      messageRows.empty() ? std::nullopt
                          : std::optional<MessageColumns>(messageRows.front().columns());
  auto work = [&](unsigned self) {
    const ArenaAllocator<MzMessageNode> memory(arenas[self]);
    for (std::size_t i; (i = next.fetch_add(1)) < messageRows.size();) {
      const RowValues& row = messageRows[i];
      auto message = messageOf(row, *columns, handles, memory);
      if (message->messageContent.empty() && message->messagePhone.empty()) continue;
      if (const auto id = row.rowid()) {
        const auto join = chatOfMessage.find(*id);
        const auto chat =
            join == chatOfMessage.end() ? joins.chats.end() : joins.chats.find(join->second);
        if (chat != joins.chats.end()) message->chat = chat->second;
      }
      if (!message->chat && !message->messagePhone.empty()) {
        const auto chat = joins.onlyChatOfAddress.find(message->messagePhone);
        if (chat != joins.onlyChatOfAddress.end()) message->chat = chat->second;
      }
      made[i] = std::move(message);
    }
  };
  runOnThreads(threads, work);
  MessageRecords out;
  out.reserve(made.size());
  for (auto& message : made) {
    if (!message) continue;
    if (!message->messagePhone.empty()) message->messageName = lookUp(joins, message->messagePhone);
    out.push_back(std::move(message));
  }
  return out;
}

ContactRecords schemaContacts(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                              const SchemaRecordJoins& joins, ContactRecords* earlier) {
  // Carved values by the person they belong to.
  std::map<std::int64_t, std::vector<RowValues>> valuesOf;
  for (const RowValues& value : rowsOf(schema, rows, {"ABMultiValue"})) {
    const auto person = value.integer("record_id");
    if (person && value.text("value")) valuesOf[*person].push_back(value);
  }
  ContactRecords out;
  std::set<std::int64_t> joined;
  auto addValues = [&](MzContactNode& contact, std::int64_t person) {
    const auto it = valuesOf.find(person);
    if (it == valuesOf.end()) return;
    ContactValueSet set(contact);
    for (const RowValues& value : it->second) {
      set.add(value.integer("property").value_or(0), *value.text("value"));
    }
    joined.insert(person);
  };
  // Live persons by name; a name two live persons share tells no one.
  std::map<std::string, std::optional<std::int64_t>> liveByName;
  for (const auto& [rowid, name] : joins.personNames) {
    const auto [it, added] = liveByName.emplace(name, rowid);
    if (!added) it->second.reset();
  }
  for (const RowValues& person : rowsOf(schema, rows, {"ABPerson"})) {
    // An earlier version of a live person's row (its row id live, or without a row id under
    // a live person's name) is no deleted contact; it is that person's, when the row id or a
    // name no other live person has tells which.
    auto id = person.rowid();
    const bool byName = !id;
    if (byName) {
      const auto live = liveByName.find(personName(person));
      if (live != liveByName.end()) {
        if (!live->second || earlier == nullptr) continue;
        id = live->second;
      }
    }
    const bool earlierOfLive = id && joins.personNames.count(*id) != 0;
    if (earlierOfLive && earlier == nullptr) continue;
    auto contact = std::make_shared<MzContactNode>();
    contact->origin = originOf(person.row());
    contact->contactName = personName(person);
    contact->firstName = person.text("First").value_or("");
    contact->middleName = person.text("Middle").value_or("");
    contact->lastName = person.text("Last").value_or("");
    contact->namePrefix = person.text("Prefix").value_or("");
    contact->nameSuffix = person.text("Suffix").value_or("");
    for (const char* part : {"Department", "JobTitle", "Organization"}) {
      if (auto text = person.text(part)) {
        if (!contact->contactCompany.empty()) contact->contactCompany += ' ';
        contact->contactCompany += *text;
      }
    }
    contact->contactJobtitle = person.text("JobTitle").value_or("");
    contact->contactNote = person.text("Note").value_or("");
    if (id) {
      contact->rowid = static_cast<std::int32_t>(*id);
      // The person's carved values are not told to belong to a row found by its name alone.
      if (!byName) addValues(*contact, *id);
    }
    if (contact->contactName.empty() && contact->values.empty() &&
        contact->contactCompany.empty()) {
      continue;
    }
    (earlierOfLive ? *earlier : out).push_back(std::move(contact));
  }
  // Values of a person whose own row did not survive. A live person's carved values are
  // numbers and addresses it had before: an earlier version of a live contact.
  for (const auto& [person, values] : valuesOf) {
    const bool ofLive = joins.personNames.count(person) != 0;
    if (joined.count(person) != 0 || (ofLive && earlier == nullptr)) continue;
    auto contact = std::make_shared<MzContactNode>();
    contact->origin = originOf(values.front().row());
    contact->rowid = static_cast<std::int32_t>(person);
    addValues(*contact, person);
    if (contact->values.empty()) continue;
    (ofLive ? *earlier : out).push_back(std::move(contact));
  }
  return out;
}

CallRecords schemaCalls(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                        const SchemaRecordJoins& joins) {
  CallRecords out;
  // call_history.db: dates in seconds since 1970, flags 5 for an outgoing call.
  for (const RowValues& row : rowsOf(schema, rows, {"call"})) {
    auto call = std::make_shared<MzCallHistoryNode>();
    call->origin = originOf(row.row());
    call->callPhone = row.text("address").value_or("");
    call->callDate = dateOf(row.number("date"), 0);
    if (auto duration = row.number("duration")) call->callTime = clampedSeconds(*duration);
    const bool outgoing = row.integer("flags") == 5;
    call->callType = outgoing ? "Outgoing" : "Incoming";
    if (call->callTime > 0) {
      call->callDuration = getCallHistoryDuration(call->callTime);
    } else if (call->callTime == 0) {
      call->callDuration = outgoing ? "Cancelled" : "Missed";
    }
    call->callName = lookUp(joins, call->callPhone);
    if (call->callPhone.empty() && call->callDate.empty()) continue;
    out.push_back(std::move(call));
  }
  // CallHistory.storedata: dates in seconds since 2001, the address as text or bytes.
  for (const RowValues& row : rowsOf(schema, rows, {"ZCALLRECORD"})) {
    auto call = std::make_shared<MzCallHistoryNode>();
    call->origin = originOf(row.row());
    if (auto address = row.textOrBlob("ZADDRESS")) call->callPhone = GetStringFormChar(*address);
    call->callDate = dateOf(row.number("ZDATE"), 1);
    if (auto duration = row.number("ZDURATION")) call->callTime = clampedSeconds(*duration);
    const bool outgoing = row.integer("ZORIGINATED") == 1;
    call->callType = outgoing ? "Outgoing" : "Incoming";
    const bool unanswered = row.integer("ZANSWERED") == 0;
    if (!outgoing && unanswered) {
      call->callDuration = "Missed";
    } else if (call->callTime > 0) {
      call->callDuration = getCallHistoryDuration(call->callTime);
    } else if (call->callTime == 0) {
      call->callDuration = outgoing ? "Cancelled" : "Missed";
    }
    if (auto type = row.integer("ZCALLTYPE")) {
      call->callKind = *type == 1    ? "Phone"
                       : *type == 8  ? "FaceTime Video"
                       : *type == 16 ? "FaceTime Audio"
                                     : "";
    }
    call->callName = lookUp(joins, call->callPhone);
    if (call->callPhone.empty() && call->callDate.empty()) continue;
    out.push_back(std::move(call));
  }
  return out;
}

NoteRecords schemaNotes(const TableSchema& schema, const std::vector<CarvedRow>& rows) {
  NoteRecords out;
  // The note rows of the three layouts by row id: title and modification date.
  std::map<std::int64_t, NoteHead> heads;
  std::map<std::int64_t, std::int64_t> headOfData;  // ZICNOTEDATA Z_PK -> note Z_PK
  const auto noteRows = rowsOf(schema, rows, {"note", "ZNOTE"});
  const auto storeRows = rowsOf(schema, rows, {"ZICCLOUDSYNCINGOBJECT"});
  for (const RowValues& row : noteRows) {
    NoteHead head;
    head.title = firstText(row, {"title", "ZTITLE"}).value_or("");
    head.date = dateOf(firstNumber(row, {"modification_date", "ZMODIFICATIONDATE"}), 1);
    if (auto id = row.rowid()) heads[*id] = head;
  }
  for (const RowValues& row : storeRows) {
    // Folders and attachments share the table; notes are the rows that name their data.
    const auto data = row.integer("ZNOTEDATA");
    if (!data) continue;
    NoteHead head;
    head.title = firstText(row, {"ZTITLE1", "ZTITLE"}).value_or("");
    head.date = dateOf(firstNumber(row, {"ZMODIFICATIONDATE1", "ZMODIFICATIONDATE"}), 1);
    if (auto id = row.rowid()) {
      heads[*id] = head;
      headOfData[*data] = *id;
    }
  }
  auto addNote = [&out](const RowValues& row, std::string body, NoteHead* head) {
    auto note = std::make_shared<MzNoteNode>();
    note->origin = originOf(row.row());
    note->noteContent = std::move(body);
    if (head != nullptr) {
      note->noteTitle = head->title;
      note->noteDate = head->date;
      head->used = true;
    }
    if (note->noteContent.empty() && note->noteTitle.empty()) return;
    out.push_back(std::move(note));
  };
  auto headFor = [&heads](std::optional<std::int64_t> id) -> NoteHead* {
    if (!id) return nullptr;
    const auto it = heads.find(*id);
    return it == heads.end() ? nullptr : &it->second;
  };
  // note_bodies (note_id, data) and ZNOTEBODY (ZOWNER, ZCONTENT; Z_PK equal to the note's).
  for (const RowValues& row : rowsOf(schema, rows, {"note_bodies"})) {
    addNote(row, cleanNoteBody(row.text("data").value_or("")), headFor(row.integer("note_id")));
  }
  for (const RowValues& row : rowsOf(schema, rows, {"ZNOTEBODY"})) {
    NoteHead* head = headFor(row.integer("ZOWNER"));
    if (head == nullptr) head = headFor(row.rowid());
    addNote(row, cleanNoteBody(row.text("ZCONTENT").value_or("")), head);
  }
  for (const RowValues& row : rowsOf(schema, rows, {"ZICNOTEDATA"})) {
    const SqlValue* data = row.value("ZDATA");
    if (data == nullptr || data->kind != SqlValue::Kind::Blob) continue;
    NoteHead* head = headFor(row.integer("ZNOTE"));
    if (head == nullptr) {
      if (auto id = row.rowid()) {
        if (auto it = headOfData.find(*id); it != headOfData.end()) head = headFor(it->second);
      }
    }
    addNote(row, noteStoreText(data->bytes()), head);
  }
  // Note rows whose body did not survive still show their title.
  for (const auto* list : {&noteRows, &storeRows}) {
    for (const RowValues& row : *list) {
      if (list == &storeRows && !row.integer("ZNOTEDATA")) continue;
      NoteHead* head = headFor(row.rowid());
      if (head != nullptr && head->used) continue;
      NoteHead own;
      own.title = firstText(row, {"title", "ZTITLE1", "ZTITLE"}).value_or("");
      own.date = dateOf(
          firstNumber(row, {"modification_date", "ZMODIFICATIONDATE1", "ZMODIFICATIONDATE"}), 1);
      addNote(row, std::string(), head != nullptr ? head : &own);
    }
  }
  return out;
}

BookmarkRecords schemaBookmarks(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                                const SchemaRecordJoins& joins) {
  BookmarkRecords out;
  for (const RowValues& row : rowsOf(schema, rows, {"bookmarks"})) {
    auto url = row.text("url");
    if (!url) continue;  // a folder
    auto bookmark = std::make_shared<MzBookMarkNode>();
    bookmark->origin = originOf(row.row());
    bookmark->bookMarkURL = GetStringFormChar(*url);
    bookmark->bookMarkTitle = GetStringFormChar(row.text("title").value_or(""));
    out.push_back(std::move(bookmark));
  }
  // History.db: items (url, visit_count) and their visits (title, visit_time since 2001).
  std::map<std::int64_t, std::string> urls = joins.historyUrls;
  std::map<std::int64_t, std::shared_ptr<MzBookMarkNode>> itemRecords;
  std::map<std::int64_t, double> latestVisit;
  for (const RowValues& row : rowsOf(schema, rows, {"history_items"})) {
    auto url = row.text("url");
    if (!url) continue;
    auto entry = std::make_shared<MzBookMarkNode>();
    entry->origin = originOf(row.row());
    entry->kind = "History";
    entry->bookMarkURL = GetStringFormChar(*url);
    if (auto count = row.integer("visit_count"))
      entry->visitCount = static_cast<std::int32_t>(*count);
    if (auto id = row.rowid()) {
      urls.emplace(*id, entry->bookMarkURL);
      itemRecords.emplace(*id, entry);
    }
    out.push_back(std::move(entry));
  }
  for (const RowValues& row : rowsOf(schema, rows, {"history_visits"})) {
    const auto item = row.integer("history_item");
    if (!item) continue;
    const auto time = row.number("visit_time");
    auto it = itemRecords.find(*item);
    if (it == itemRecords.end()) {
      const auto url = urls.find(*item);
      if (url == urls.end()) continue;
      auto entry = std::make_shared<MzBookMarkNode>();
      entry->origin = originOf(row.row());
      entry->kind = "History";
      entry->bookMarkURL = url->second;
      it = itemRecords.emplace(*item, entry).first;
      out.push_back(std::move(entry));
    }
    // The title and time of the latest visit.
    const double at = time.value_or(-1e300);
    auto latest = latestVisit.find(*item);
    if (latest != latestVisit.end() && latest->second >= at) continue;
    latestVisit[*item] = at;
    if (auto title = row.text("title")) it->second->bookMarkTitle = GetStringFormChar(*title);
    if (time) it->second->lastVisit = dateOf(time, 1);
  }
  return out;
}

EventRecords schemaEvents(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                          const SchemaRecordJoins& joins) {
  std::map<std::int64_t, std::string> locations = joins.locationTitles;
  for (const RowValues& row : rowsOf(schema, rows, {"Location"})) {
    const auto id = row.rowid();
    const auto title = row.text("title");
    if (id && title) locations.emplace(*id, *title);
  }
  EventRecords out;
  for (const RowValues& row : rowsOf(schema, rows, {"CalendarItem"})) {
    auto event = std::make_shared<MzCalenderNode>();
    event->origin = originOf(row.row());
    event->calTitle = row.text("summary").value_or("");
    event->calNote = row.text("description").value_or("");
    event->startDate = dateOf(row.number("start_date"), 1);
    event->endDate = dateOf(row.number("end_date"), 1);
    event->allDay = row.integer("all_day") == 1;
    if (auto location = row.integer("location_id"); location && *location > 0) {
      if (auto it = locations.find(*location); it != locations.end()) event->location = it->second;
    }
    if (event->calTitle.empty() && event->calNote.empty()) continue;
    out.push_back(std::move(event));
  }
  return out;
}

}  // namespace carve
