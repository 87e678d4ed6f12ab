// The records the schema-aware carver's rows become: one deleted row per category comes back
// with its values and the place it lay in, rows join their live or carved neighbours, and the
// results show a record the two carvers both find once.
#include "carve/schema_records.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>
#include <string>

#include "base/conversions.h"
#include "carve/carved_row_values.h"
#include "extract/contact_phones.h"
#include "fixture_support.h"
#include "results/fake_result_view.h"
#include "results/result_view_controller.h"
#include "support/temp_dir.h"

namespace {

struct Carved {
  carve::TableSchema schema;
  std::vector<carve::CarvedRow> rows;
};

// Runs `sql` on a new database named `name` (secure_delete off, so freed cells keep their
// bytes) and carves it. With `wal` the database is in write-ahead mode and `walSql` runs after
// the first part, its frames left in the log (no checkpoint) when the files are read.
Carved carveSql(const std::string& name, const std::string& sql, bool wal = false,
                const std::string& walSql = {}) {
  TempDir temp;
  const std::string path = temp.sub(name);
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const std::string setup =
      wal ? "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;" : "PRAGMA journal_mode=DELETE;";
  char* error = nullptr;
  for (const std::string& part :
       {"PRAGMA secure_delete=OFF; PRAGMA page_size=4096;" + setup, sql, walSql}) {
    if (part.empty()) continue;
    EXPECT_EQ(sqlite3_exec(db, part.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    error = nullptr;
  }
  // The files as they lie while the connection is open: the log not yet folded in.
  auto database = fixtures::readFileBytes(path);
  auto log = fixtures::readFileBytes(path + "-wal");
  sqlite3_close(db);
  Carved out;
  if (!database) return out;
  std::optional<DatabaseImage> logImage;
  if (log && !log->empty()) logImage.emplace(std::move(*log));
  const auto sources =
      carve::CarveSources::read(name, DatabaseImage(std::move(*database)), std::move(logImage));
  out.schema = carve::readTableSchema(sources.latest());
  out.rows = carve::carveTables(sources, out.schema);
  if (std::getenv("SCHEMA_RECORDS_DEBUG") != nullptr) {
    for (const auto& r : out.rows) {
      std::printf("%s page %lld place %d values %zu:", r.table.c_str(), (long long)r.page, r.place,
                  r.values.size());
      for (const auto& v : r.values)
        std::printf(" [%d %s %lld]", (int)v.kind, std::string(v.bytes()).c_str(),
                    (long long)v.integer);
      std::printf("\n");
    }
  }
  return out;
}

void expectCarvedOrigin(const RecordOrigin& origin, const std::string& file) {
  EXPECT_EQ(origin.kind, RecordOrigin::Kind::Carved);
  EXPECT_EQ(origin.file, file);
  EXPECT_GT(origin.page, 1);
  EXPECT_GT(origin.offset, 0);
  EXPECT_NE(origin.place, RecordOrigin::Place::RecordSignature);
}

constexpr const char* kIos6Message =
    "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, "
    "country TEXT, service TEXT NOT NULL, uncanonicalized_id TEXT);"
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
    "text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, "
    "subject TEXT, country TEXT, attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER "
    "DEFAULT 0, service TEXT, account TEXT, account_guid TEXT, error INTEGER DEFAULT 0, date "
    "INTEGER, date_read INTEGER, date_delivered INTEGER, is_delivered INTEGER DEFAULT 0, "
    "is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0, is_from_me INTEGER DEFAULT 0);"
    "INSERT INTO handle VALUES (1, '+46701234567', 'se', 'SMS', NULL);";

TEST(SchemaRecordsTest, MessagesOfBothLayoutsWithTheirAddressDateAndPlace) {
  // iOS 6 on: the address from the live handle row, a date of nanoseconds since 2001.
  const Carved six = carveSql(
      "sms.db", std::string(kIos6Message) +
                    "INSERT INTO message (guid, text, handle_id, service, date, is_from_me) VALUES "
                    "('g1', 'Kept message text', 1, 'SMS', 600000000000000000, 0),"
                    "('g2', 'Deleted message text', 1, 'iMessage', 600000060000000000, 1);"
                    "DELETE FROM message WHERE guid = 'g2';");
  carve::SchemaRecordJoins live;
  live.handleAddresses[1] = "+46701234567";
  const auto messages = carve::schemaMessages(six.schema, six.rows, live);
  ASSERT_EQ(messages.size(), 1u);
  const MzMessageNode& m = *messages[0];
  EXPECT_EQ(m.messageContent, "Deleted message text");
  EXPECT_EQ(m.messagePhone, "+46701234567");  // a carved handle row is not needed: it is live
  EXPECT_EQ(m.messageDate, dateText(600000060, 1));
  EXPECT_EQ(m.messageType, "Send");
  EXPECT_TRUE(m.bImessage);
  EXPECT_EQ(m.handle_id, 1);
  expectCarvedOrigin(m.origin, "sms.db");
  EXPECT_EQ(m.chat, nullptr);
  // Its conversation: the one chat a live message of that address names.
  auto chat = std::make_shared<MzChatInfo>();
  chat->participants = {"+46701234567"};
  live.onlyChatOfAddress[chat->participants[0]] = chat;
  EXPECT_EQ(carve::schemaMessages(six.schema, six.rows, live).at(0)->chat, chat);

  // iOS 4/5: address, flags and seconds since 1970 in the row itself.
  const Carved five = carveSql(
      "sms.db",
      "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date "
      "INTEGER, text TEXT, flags INTEGER, replace INTEGER, svc_center TEXT, group_id INTEGER);"
      "INSERT INTO message (address, date, text, flags) VALUES ('+4670111', 1300000000, "
      "'an old kept one', 3), ('+4670222', 1300000100, 'an old deleted one', 2);"
      "DELETE FROM message WHERE flags = 2;");
  const auto old = carve::schemaMessages(five.schema, five.rows, {});
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(old[0]->messagePhone, "+4670222");
  EXPECT_EQ(old[0]->messageDate, dateText(1300000100, 0));
  EXPECT_EQ(old[0]->messageType, "Received");
}

TEST(SchemaRecordsTest, ATextCommittedToTheLogAndDeletedComesBackWithItsFrame) {
  const Carved carved =
      carveSql("sms.db", kIos6Message, true,
               "INSERT INTO message (guid, text, handle_id, service, date) VALUES "
               "('g9', 'Only ever in the log', 1, 'SMS', 400000000);"
               "DELETE FROM message WHERE guid = 'g9';");
  const auto messages = carve::schemaMessages(carved.schema, carved.rows, {});
  ASSERT_FALSE(messages.empty());
  const RecordOrigin& origin = messages[0]->origin;
  EXPECT_EQ(messages[0]->messageContent, "Only ever in the log");
  EXPECT_EQ(origin.file, "sms.db-wal");
  EXPECT_EQ(origin.place, RecordOrigin::Place::LogFrame);
  EXPECT_GE(origin.frame, 1);
  EXPECT_GE(origin.commit, 1);
  EXPECT_FALSE(origin.badChecksum);
}

TEST(SchemaRecordsTest, EveryTextCommittedToTheLogAndDeletedLaterComesBack) {
  // Thirty messages committed in three transactions, then deleted in two; the log keeps
  // every commit, the database file none of them.
  std::string sql;
  std::set<std::string> texts;
  for (int commit = 0; commit < 3; ++commit) {
    sql += "BEGIN;";
    for (int i = 0; i < 10; ++i) {
      const std::string text = "Log message " + std::to_string(commit * 10 + i) +
                               (i % 3 == 0 ? std::string(300, 'x') : std::string(" short"));
      texts.insert(text);
      sql += "INSERT INTO message (guid, text, handle_id, service, date) VALUES ('l" +
             std::to_string(commit * 10 + i) + "', '" + text + "', 1, 'SMS', 400000000);";
    }
    sql += "COMMIT;";
  }
  sql += "DELETE FROM message WHERE guid < 'l2'; DELETE FROM message;";
  const Carved carved = carveSql("sms.db", kIos6Message, true, sql);
  std::set<std::string> found;
  for (const auto& m : carve::schemaMessages(carved.schema, carved.rows, {})) {
    found.insert(m->messageContent);
    EXPECT_EQ(m->origin.place, RecordOrigin::Place::LogFrame);
  }
  for (const std::string& text : texts) EXPECT_EQ(found.count(text), 1u) << text;
}

TEST(SchemaRecordsTest, ContactsJoinTheirValuesOnceEachAndLeaveEarlierVersionsOfLiveOnesOut) {
  const Carved carved = carveSql(
      "AddressBook.sqlitedb",
      "CREATE TABLE ABPerson (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, First TEXT, Last TEXT, "
      "Middle TEXT, FirstPhonetic TEXT, MiddlePhonetic TEXT, LastPhonetic TEXT, Organization "
      "TEXT, Department TEXT, Note TEXT, Kind INTEGER, Birthday TEXT, JobTitle TEXT);"
      "CREATE TABLE ABMultiValue (UID INTEGER PRIMARY KEY, record_id INTEGER, property INTEGER, "
      "identifier INTEGER, label INTEGER, value TEXT);"
      "INSERT INTO ABPerson (ROWID, First, Last) VALUES (1, 'Live', 'Person'), "
      "(2, 'Gone', 'Person'), (3, 'Other', 'Person');"
      "INSERT INTO ABMultiValue (record_id, property, identifier, label, value) VALUES "
      "(2, 3, 0, 1, '070-111 22 33'), (1, 3, 0, 1, '0705550101'), (2, 3, 1, 1, '0701112233'), "
      "(3, 3, 0, 1, '0705550303'), (2, 4, 2, 2, 'gone@example.com'), (3, 4, 1, 2, 'o@example.se'), "
      "(1, 3, 1, 1, '0709998877'), (3, 3, 2, 1, '0705550304');"
      "DELETE FROM ABMultiValue WHERE record_id = 2 OR value = '0709998877';"
      "DELETE FROM ABPerson WHERE ROWID = 2;"
      "UPDATE ABPerson SET Note = 'Met at the conference in Lund, spring 2012' WHERE ROWID = 1;");
  carve::SchemaRecordJoins joins;
  joins.personNames[1] = "Live Person";
  joins.personNames[3] = "Other Person";
  const auto contacts = carve::schemaContacts(carved.schema, carved.rows, joins);
  const MzContactNode* gone = nullptr;
  const MzContactNode* numbers = nullptr;
  const MzContactNode* live = nullptr;
  for (const auto& c : contacts) {
    if (c->contactName == "Gone Person") gone = c.get();
    if (c->contactEmail == " gone@example.com") numbers = c.get();
    if (c->contactName == "Live Person") live = c.get();
  }
  ASSERT_NE(gone, nullptr);  // a person's name alone is shown
  expectCarvedOrigin(gone->origin, "AddressBook.sqlitedb");
  // The values of the deleted person: with its row when the person's row id survived, else
  // apart, without a name. The same number twice is listed once.
  ASSERT_NE(numbers, nullptr);
  EXPECT_EQ(phoneNumberSet(*numbers), std::vector<std::string>{"0701112233"});
  EXPECT_EQ(numbers->values.size(), 2u);
  EXPECT_TRUE(numbers->contactName.empty() || numbers == gone);
  // A live person's removed number is an earlier version of a live contact: not deleted, but
  // kept for that contact's history when asked for.
  EXPECT_EQ(live, nullptr);
  carve::ContactRecords earlier;
  EXPECT_EQ(carve::schemaContacts(carved.schema, carved.rows, joins, &earlier).size(),
            contacts.size());
  // So is the live person's row as it was before its note was added, its row id lost with
  // its cell's first bytes: its name tells whose it is.
  ASSERT_EQ(earlier.size(), 2u);
  for (const auto& version : earlier) EXPECT_EQ(version->rowid, 1);
  EXPECT_EQ(earlier[0]->contactName, "Live Person");
  EXPECT_TRUE(earlier[0]->contactNote.empty());
  EXPECT_NE(earlier[1]->contactPhone.find("0709998877"), std::string::npos);
}

TEST(SchemaRecordsTest, CallsOfBothDatabases) {
  const Carved older = carveSql(
      "call_history.db",
      "CREATE TABLE call (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, "
      "duration INTEGER, flags INTEGER, id INTEGER, name TEXT, country_code TEXT);"
      "INSERT INTO call (address, date, duration, flags) VALUES ('0701234567', 1400000000, 65, "
      "5), ('0707654321', 1400000500, 0, 4);"
      "DELETE FROM call;");
  carve::SchemaRecordJoins joins;
  joins.nameOf = [](const std::string& phone) -> std::optional<std::string> {
    if (phone == "0701234567") return "Ann";
    return std::nullopt;
  };
  const auto calls = carve::schemaCalls(older.schema, older.rows, joins);
  ASSERT_EQ(calls.size(), 2u);
  const MzCallHistoryNode& out = calls[0]->callPhone == "0701234567" ? *calls[0] : *calls[1];
  EXPECT_EQ(out.callDate, dateText(1400000000, 0));
  EXPECT_EQ(out.callType, "Outgoing");
  EXPECT_EQ(out.callTime, 65);
  EXPECT_EQ(out.callName, std::optional<std::string>("Ann"));
  expectCarvedOrigin(out.origin, "call_history.db");

  const Carved store = carveSql(
      "CallHistory.storedata",
      "CREATE TABLE ZCALLRECORD (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
      "ZANSWERED INTEGER, ZCALLTYPE INTEGER, ZORIGINATED INTEGER, ZDATE TIMESTAMP, ZDURATION "
      "FLOAT, ZADDRESS VARCHAR, ZSERVICE_PROVIDER VARCHAR);"
      "INSERT INTO ZCALLRECORD VALUES (1, 2, 1, 1, 1, 1, 699999000.5, 12.0, "
      "CAST('+46709990001' AS BLOB), 'com.apple.Telephony');"
      "INSERT INTO ZCALLRECORD VALUES (2, 2, 1, 0, 1, 0, 700000000.5, 0.0, "
      "'+46709990000', 'com.apple.Telephony');"
      "INSERT INTO ZCALLRECORD VALUES (3, 2, 1, 1, 16, 0, 700000900.5, 30.0, "
      "'+46709990003', 'com.apple.Telephony');"
      "DELETE FROM ZCALLRECORD WHERE Z_PK = 2;");
  const auto current = carve::schemaCalls(store.schema, store.rows, {});
  ASSERT_EQ(current.size(), 1u);
  EXPECT_EQ(current[0]->callPhone, "+46709990000");  // the number kept as bytes
  EXPECT_EQ(current[0]->callDate, dateText(700000000, 1));
  EXPECT_EQ(current[0]->callDuration, "Missed");
  EXPECT_EQ(current[0]->callKind, "Phone");
}

TEST(SchemaRecordsTest, NotesJoinTheirBodyAndATitleAloneIsKept) {
  const Carved carved = carveSql(
      "notes.sqlite",
      "CREATE TABLE ZNOTE (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZBODY "
      "INTEGER, ZCREATIONDATE TIMESTAMP, ZMODIFICATIONDATE TIMESTAMP, ZTITLE VARCHAR);"
      "CREATE TABLE ZNOTEBODY (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, ZOWNER "
      "INTEGER, ZCONTENT VARCHAR);"
      "INSERT INTO ZNOTE VALUES (1, 3, 1, 1, 400000000, 400000100, 'Shopping list');"
      "INSERT INTO ZNOTEBODY VALUES (1, 2, 1, 1, 'Milk, bread and the rest of the list');"
      "INSERT INTO ZNOTE VALUES (2, 3, 1, NULL, 400000000, 400000200, 'A title alone');"
      "DELETE FROM ZNOTEBODY; DELETE FROM ZNOTE;");
  const auto notes = carve::schemaNotes(carved.schema, carved.rows);
  const MzNoteNode* body = nullptr;
  const MzNoteNode* title = nullptr;
  for (const auto& n : notes) {
    if (n->noteContent == "Milk, bread and the rest of the list") body = n.get();
    if (n->noteTitle == "A title alone") title = n.get();
  }
  ASSERT_NE(body, nullptr);
  EXPECT_EQ(body->noteTitle, "Shopping list");
  EXPECT_EQ(body->noteDate, dateText(400000100, 1));
  expectCarvedOrigin(body->origin, "notes.sqlite");
  ASSERT_NE(title, nullptr);
  EXPECT_TRUE(title->noteContent.empty());
}

TEST(SchemaRecordsTest, BookmarksAndHistoryEntries) {
  const Carved bookmarks = carveSql(
      "Bookmarks.db",
      "CREATE TABLE bookmarks (id INTEGER PRIMARY KEY, special_id INTEGER DEFAULT 0, parent "
      "INTEGER, type INTEGER, title TEXT, url TEXT COLLATE NOCASE, num_children INTEGER);"
      "INSERT INTO bookmarks (parent, type, title, url) VALUES (0, 0, 'Example page', "
      "'https://example.com/page'), (0, 1, 'A folder', NULL);"
      "DELETE FROM bookmarks;");
  const auto marks = carve::schemaBookmarks(bookmarks.schema, bookmarks.rows, {});
  ASSERT_EQ(marks.size(), 1u);  // the folder has no address
  EXPECT_EQ(marks[0]->bookMarkURL, "https://example.com/page");
  EXPECT_EQ(marks[0]->bookMarkTitle, "Example page");
  EXPECT_TRUE(marks[0]->kind.empty());
  expectCarvedOrigin(marks[0]->origin, "Bookmarks.db");

  const Carved history = carveSql(
      "History.db",
      "CREATE TABLE history_items (id INTEGER PRIMARY KEY AUTOINCREMENT, url TEXT NOT NULL "
      "UNIQUE, domain_expansion TEXT NULL, visit_count INTEGER NOT NULL);"
      "CREATE TABLE history_visits (id INTEGER PRIMARY KEY AUTOINCREMENT, history_item INTEGER "
      "NOT NULL, visit_time REAL NOT NULL, title TEXT NULL);"
      "INSERT INTO history_items VALUES (1, 'https://news.example.org/today', NULL, 2);"
      "INSERT INTO history_visits VALUES (1, 1, 600000000.5, 'Older title'), "
      "(2, 1, 600000900.5, 'Newest title');"
      "DELETE FROM history_visits; DELETE FROM history_items;");
  const auto entries = carve::schemaBookmarks(history.schema, history.rows, {});
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0]->kind, "History");
  EXPECT_EQ(entries[0]->bookMarkURL, "https://news.example.org/today");
  EXPECT_EQ(entries[0]->bookMarkTitle, "Newest title");
  EXPECT_EQ(entries[0]->lastVisit, dateText(600000900, 1));
  EXPECT_EQ(entries[0]->visitCount, 2);
}

TEST(SchemaRecordsTest, EventsWithTheirLocation) {
  const Carved carved = carveSql(
      "Calendar.sqlitedb",
      "CREATE TABLE Location (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, title TEXT, latitude "
      "INTEGER, longitude INTEGER);"
      "CREATE TABLE CalendarItem (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, summary TEXT, "
      "location_id INTEGER, description TEXT, start_date REAL, start_tz TEXT, end_date REAL, "
      "all_day INTEGER, calendar_id INTEGER);"
      "INSERT INTO Location VALUES (1, 'Town hall', 0, 0);"
      "INSERT INTO CalendarItem (summary, location_id, description, start_date, end_date, "
      "all_day, calendar_id) VALUES ('Dentist appointment', 1, 'bring the card', 500000000, "
      "500003600, 0, 1);"
      "DELETE FROM CalendarItem;");
  carve::SchemaRecordJoins live;
  live.locationTitles[1] = "Town hall";
  const auto events = carve::schemaEvents(carved.schema, carved.rows, live);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->calTitle, "Dentist appointment");
  EXPECT_EQ(events[0]->calNote, "bring the card");
  EXPECT_EQ(events[0]->location, "Town hall");
  EXPECT_EQ(events[0]->startDate, dateText(500000000, 1));
  EXPECT_EQ(events[0]->endDate, dateText(500003600, 1));
  expectCarvedOrigin(events[0]->origin, "Calendar.sqlitedb");
}

// The results file the two carvers' records in one list per category.
TEST(SchemaRecordsTest, TheResultsShowARecordOnceAndKeepEarlierVersionsOfLiveOnesOut) {
  NotificationCenter nc;
  FakeResultView view;
  MzResultViewController results{nc, &view};
  auto message = [](const std::string& text, RecordOrigin::Place place) {
    auto m = std::make_shared<MzMessageNode>();
    m->messagePhone = "+4670111";
    m->messageContent = text;
    m->messageDate = "01-02-2014 10:00";
    m->origin = RecordOrigin::carved("sms.db", 3, 5000, place);
    return m;
  };
  nc.post("ScanDelMessageInfo",
          std::any(message("found by both", RecordOrigin::Place::RecordSignature)));
  nc.post("ScanDelMessageInfo", std::any(message("found by both", RecordOrigin::Place::Freeblock)));
  nc.post("ScanDelMessageInfo", std::any(message("schema only", RecordOrigin::Place::Freelist)));
  EXPECT_EQ(results.delMessageNum, 2);

  auto contact = [](const std::vector<std::string>& phones, RecordOrigin origin) {
    auto c = std::make_shared<MzContactNode>();
    c->contactName = "Ann Berg";
    for (const std::string& phone : phones) {
      c->contactPhone += " " + phone;
      MzContactValue value;
      value.value = phone;
      c->values.push_back(value);
    }
    c->origin = std::move(origin);
    return c;
  };
  nc.post("ScanContactInfo", contact({"0701112233", "0702223344"},
                                     RecordOrigin::live("AddressBook.sqlitedb", "ABPerson", 4)));
  // The live person's earlier row, its numbers in another order, from the log.
  nc.post("ScanDelContactInfo",
          contact({"070-222 33 44", "0701112233"},
                  RecordOrigin::logFrame("AddressBook.sqlitedb-wal", 2, 9000, 3, 2, false)));
  EXPECT_EQ(results.delContactNum, 0);
  ASSERT_EQ(results.contactArray.size(), 1u);
  EXPECT_FALSE(results.contactArray[0]->bDeleted);
  // It is the live contact's history instead; the live row read again by the record signature
  // carver is not.
  nc.post("ScanDelContactInfo",
          contact({"0701112233", "0702223344"},
                  RecordOrigin::carved("AddressBook.sqlitedb", 2, 9100,
                                       RecordOrigin::Place::RecordSignature)));
  // So is a row of the same person the schema carver tells by its row id.
  results.contactArray[0]->rowid = 4;
  auto byRow = contact({"0709998877"}, RecordOrigin::carved("AddressBook.sqlitedb-wal", 2, 9200,
                                                            RecordOrigin::Place::Freeblock));
  byRow->rowid = 4;
  nc.post("ScanContactEarlierVersionInfo", byRow);
  const auto& history = results.history().of(results.contactArray[0].get());
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(history[0].origin.frame, 3);
  EXPECT_NE(history[0].line().find("070-222 33 44"), std::string::npos) << history[0].line();
  EXPECT_NE(history[1].line().find("0709998877"), std::string::npos) << history[1].line();
  EXPECT_EQ(results.delContactNum, 0);

  // A deleted person the record signature carver read whole, and the schema carver in two
  // parts (the person's row id lost): the name alone and the numbers alone are that contact.
  auto whole = contact({"0703334455"}, RecordOrigin::carved("AddressBook.sqlitedb", 7, 100,
                                                            RecordOrigin::Place::RecordSignature));
  whole->contactName = "Lars Holm";
  nc.post("ScanDelContactInfo", whole);
  auto name = std::make_shared<MzContactNode>();
  name->contactName = "Lars Holm";
  name->origin =
      RecordOrigin::carved("AddressBook.sqlitedb", 7, 96, RecordOrigin::Place::Freeblock);
  nc.post("ScanDelContactInfo", name);
  auto numbers = contact({"070-333 44 55"}, RecordOrigin::carved("AddressBook.sqlitedb", 18, 7000,
                                                                 RecordOrigin::Place::Freeblock));
  numbers->contactName.clear();
  nc.post("ScanDelContactInfo", numbers);
  EXPECT_EQ(results.delContactNum, 1);
}

// Columns are found by name in any case, among names of the same length; a column the record
// does not reach reads as none, and the rowid comes from the alias column when the cell lost it.
TEST(SchemaRecordsTest, RowValuesFindColumnsByNameInAnyCase) {
  const auto table = carve::parseCreateTable(
      "CREATE TABLE t (ROWID INTEGER PRIMARY KEY, Text TEXT, date INTEGER, DATE_read INTEGER, "
      "text2 TEXT, Flags INTEGER)");
  ASSERT_TRUE(table);
  carve::CarvedRow row;
  row.table = "t";
  row.values = {carve::SqlValue::ofInteger(7), carve::SqlValue::ofText("hi"),
                carve::SqlValue::ofInteger(100), carve::SqlValue::ofInteger(200),
                carve::SqlValue::ofText("second")};
  const carve::RowValues values(std::make_shared<const carve::ColumnNames>(*table), row);
  EXPECT_EQ(values.text("TEXT"), "hi");
  EXPECT_EQ(values.text("Text2"), "second");
  EXPECT_EQ(values.integer("Date"), 100);
  EXPECT_EQ(values.integer("date_READ"), 200);
  EXPECT_FALSE(values.value("flags"));  // added later: the record stops before it
  EXPECT_FALSE(values.value("dates"));
  EXPECT_EQ(values.rowid(), 7);
}

}  // namespace
