// The schema-aware carver on message databases made by SQLite from the device schemas: every
// place a deleted row can survive, the log's page versions, the journal, and damaged input.
#include "carve/schema_carver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "carve/btree_cells.h"
#include "carve/database_map.h"
#include "carve/index_cell_shape.h"
#include "carve/index_entry_carver.h"
#include "carve/record_format.h"
#include "carve/signature_record_check.h"
#include "carve/table_schema.h"
#include "fixture_support.h"
#include "schema_database.h"
#include "schema_file.h"
#include "support/temp_dir.h"

namespace {

using carve::CarvedRecordPlace;
using carve::CarvedRow;
using carve::CarveSources;
using fixtures::JournalMode;

// A message database of one generation, rows added with a text and a date.
class MessageDatabase {
 public:
  MessageDatabase(int generation, JournalMode journal, int pageSize = 4096, int autoVacuum = 0) {
    auto schema = fixtures::loadSchema(fixtures::schemaPath(generation, "sms.db"));
    EXPECT_TRUE(schema.has_value());
    fixtures::DatabaseOptions options;
    options.pageSize = pageSize;
    options.journal = journal;
    options.autoVacuum = autoVacuum;
    path_ = temp_.sub("sms.db");
    std::string error;
    db_ = fixtures::SchemaDatabase::create(path_, *schema, options, &error);
    EXPECT_TRUE(db_) << error;
    db_->exec("PRAGMA wal_autocheckpoint=0");
  }

  std::int64_t add(const std::string& text, std::int64_t date = 400000000) {
    const std::string guid = "G-" + std::to_string(++count_) + "-" + std::to_string(text.size());
    return db_->insert("message", {{"guid", guid},
                                   {"text", text},
                                   {"service", std::string("SMS")},
                                   {"date", date},
                                   {"handle_id", std::int64_t{3}}});
  }
  void remove(std::int64_t rowid) {
    db_->remove("message", "ROWID = ?", {fixtures::SqlValue{rowid}});
  }
  fixtures::SchemaDatabase& db() { return *db_; }
  DatabaseImage file(const char* suffix = "") const {
    auto bytes = fixtures::readFileBytes(path_ + suffix);
    return DatabaseImage(bytes ? std::move(*bytes) : std::vector<std::uint8_t>{});
  }
  bool close() { return db_->close(); }

 private:
  TempDir temp_;
  std::string path_;
  std::unique_ptr<fixtures::SchemaDatabase> db_;
  int count_ = 0;
};

std::vector<CarvedRow> carveAll(const CarveSources& sources) {
  auto rows = carve::carveTables(sources, carve::readTableSchema(sources.latest()));
  // RETRIEVO_CARVE_VERBOSE=1 lists what was carved.
  if (std::getenv("RETRIEVO_CARVE_VERBOSE") != nullptr) {
    for (const auto& r : rows) {
      fprintf(stderr,
              "%s place=%d cell=%d page=%lld off=%lld rowid=%lld frame=%lld commit=%lld cols=%d "
              "reb=%d |",
              r.table.c_str(), r.place, r.cellPlace, (long long)r.page, (long long)r.offset,
              (long long)r.rowid.value_or(-1), (long long)r.logFrame, (long long)r.logCommit,
              r.storedColumns, r.headerRebuilt);
      for (const auto& v : r.values) {
        if (v.kind == carve::SqlValue::Kind::Integer)
          fprintf(stderr, " %lld", (long long)v.integer);
        else if (v.kind == carve::SqlValue::Kind::Null)
          fprintf(stderr, " N");
        else
          fprintf(stderr, " '%.30s'", std::string(v.bytes()).c_str());
      }
      fprintf(stderr, "\n");
    }
  }
  return rows;
}

const CarvedRow* withText(const std::vector<CarvedRow>& rows, const std::string& text) {
  for (const auto& row : rows) {
    if (row.table != "message") continue;
    for (const auto& value : row.values) {
      if (value.kind == carve::SqlValue::Kind::Text && value.bytes() == text) return &row;
    }
  }
  return nullptr;
}

void put32(std::vector<std::uint8_t>& bytes, std::int64_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[static_cast<std::size_t>(at + i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  }
}

std::string textOf(const CarvedRow& row, std::size_t column) {
  return column < row.values.size() ? std::string(row.values[column].bytes()) : std::string();
}

// The text's bytes lie on the row's page at or after the row's offset.
bool holdsText(const DatabaseImage& image, const CarvedRow& row, const std::string& text,
               std::int64_t pageStart, std::int64_t pageSize) {
  const std::string_view bytes(reinterpret_cast<const char*>(image.data()),
                               static_cast<std::size_t>(image.size()));
  const std::size_t found = bytes.find(text.substr(0, 40), static_cast<std::size_t>(row.offset));
  return row.offset >= pageStart && row.offset < pageStart + pageSize &&
         found != std::string_view::npos && static_cast<std::int64_t>(found) < pageStart + pageSize;
}

std::string messageText(int i, std::size_t length = 60) {
  std::string text = "Message " + std::to_string(i) + " räksmörgås ";
  while (text.size() < length) text += "and more words " + std::to_string(i) + " ";
  return text.substr(0, length);
}

TEST(TableSchemaTest, ParsesCreateTableTextsAsSqliteReadsThem) {
  auto table = carve::parseCreateTable(
      "CREATE TABLE IF NOT EXISTS \"my \"\"table\" ( -- a comment\n"
      " [id] INTEGER PRIMARY KEY AUTOINCREMENT, `name` VARCHAR(20, 3) NOT NULL DEFAULT ('x'),"
      " price DECIMAL(10,2) CHECK (price > (0)), /* block */ data, when_date FLOAT,"
      " CONSTRAINT u UNIQUE (name, price))");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->name, "my \"table");
  ASSERT_EQ(table->columns.size(), 5u);
  EXPECT_EQ(table->columns[0].name, "id");
  EXPECT_TRUE(table->columns[0].rowidAlias);
  EXPECT_EQ(table->columns[1].affinity, carve::Affinity::Text);
  EXPECT_EQ(table->columns[2].affinity, carve::Affinity::Numeric);
  EXPECT_EQ(table->columns[3].affinity, carve::Affinity::Blob);
  EXPECT_EQ(table->columns[4].affinity, carve::Affinity::Real);
  EXPECT_EQ(table->rowidAliasColumn(), 0);

  auto keyed = carve::parseCreateTable("CREATE TABLE t (a INTEGER, b TEXT, PRIMARY KEY (a))");
  ASSERT_TRUE(keyed);
  EXPECT_TRUE(keyed->columns[0].rowidAlias);
  auto descending = carve::parseCreateTable("CREATE TABLE t (a INTEGER PRIMARY KEY DESC, b)");
  ASSERT_TRUE(descending);
  EXPECT_FALSE(descending->columns[0].rowidAlias);
  auto noRowid = carve::parseCreateTable("CREATE TABLE t (a INTEGER PRIMARY KEY, b) WITHOUT ROWID");
  ASSERT_TRUE(noRowid);
  EXPECT_TRUE(noRowid->withoutRowid);
  EXPECT_FALSE(noRowid->columns[0].rowidAlias);

  for (const char* bad : {"CREATE TABLE t (a, b", "CREATE VIRTUAL TABLE t USING fts4(a)",
                          "CREATE TABLE t AS SELECT 1", "", "CREATE TABLE (", "CREATE TABLE t ()",
                          "CREATE TABLE t (a, , b)"}) {
    EXPECT_FALSE(carve::parseCreateTable(bad)) << bad;
  }
}

TEST(TableSchemaTest, ReadsTheTablesOfADeviceDatabaseFromItsPages) {
  MessageDatabase sms(17, JournalMode::Legacy);
  const auto expected = sms.db().columns("message");
  ASSERT_TRUE(sms.close());
  const carve::TableSchema schema = carve::readTableSchema(sms.file());
  const carve::TableDefinition* message = schema.table("message");
  ASSERT_NE(message, nullptr);
  ASSERT_EQ(message->columns.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(message->columns[i].name, expected[i]);
  }
  EXPECT_EQ(message->rowidAliasColumn(), 0);
  EXPECT_GT(message->rootPage, 1);
  EXPECT_FALSE(schema.otherRootPages.empty());  // the indexes
}

TEST(TableSchemaTest, ReadsTheIndexesOnPlainColumns) {
  const auto index = carve::parseCreateIndex(
      "CREATE UNIQUE INDEX IF NOT EXISTS main.\"by url\" ON bookmarks "
      "(url COLLATE NOCASE, parent DESC)");
  ASSERT_TRUE(index);
  EXPECT_EQ(index->name, "by url");
  EXPECT_EQ(index->table, "bookmarks");
  EXPECT_EQ(index->columns, (std::vector<std::string>{"url", "parent"}));
  for (const char* other : {"CREATE INDEX i ON t (lower(a))", "CREATE TABLE t (a)",
                            "CREATE INDEX i ON t (a", "CREATE INDEX ON t (a)"}) {
    EXPECT_FALSE(carve::parseCreateIndex(other)) << other;
  }
}

// Bookmarks freed from the device's own bookmarks table: their entries of the URL index are
// read back, two freed side by side among them, and no live bookmark's.
TEST(IndexEntryCarverTest, ReadsTheFreedEntriesOfATextIndex) {
  auto schemaFile = fixtures::loadSchema(fixtures::schemaPath(6, "Bookmarks.db"));
  ASSERT_TRUE(schemaFile.has_value());
  TempDir temp;
  const std::string path = temp.sub("Bookmarks.db");
  fixtures::DatabaseOptions options;
  options.journal = JournalMode::Legacy;
  std::string error;
  auto db = fixtures::SchemaDatabase::create(path, *schemaFile, options, &error);
  ASSERT_TRUE(db) << error;
  for (int i = 1; i <= 12; ++i) {
    db->insert("bookmarks", {{"id", std::int64_t{i}},
                             {"title", "Page " + std::to_string(i)},
                             {"url", "http://sv.example.org/artikel/" + std::to_string(i * 7)},
                             {"order_index", std::int64_t{i}}});
  }
  // 35 and 42 are neighbours in the index: their entries free as one freeblock.
  db->remove("bookmarks", "id IN (5, 6, 9)", {});
  ASSERT_TRUE(db->close());
  auto bytes = fixtures::readFileBytes(path);
  ASSERT_TRUE(bytes);
  const auto sources = CarveSources::read("Bookmarks.db", DatabaseImage(std::move(*bytes)));
  const auto schema = carve::readTableSchema(sources.latest());
  const auto map = carve::mapDatabase(sources.latest(), schema);
  const auto rows = carve::carveIndexEntries(sources, schema, map,
                                             [](const carve::PageVersion&) { return true; });
  std::map<std::int64_t, std::string> found;
  for (const CarvedRow& row : rows) {
    EXPECT_EQ(row.table, "bookmarks");
    EXPECT_EQ(row.place, CarvedRecordPlace::kFreeblock);
    const auto* table = schema.table("bookmarks");
    for (std::size_t c = 0; c < table->columns.size(); ++c) {
      if (table->columns[c].name == "url") found[row.rowid.value_or(0)] = row.values[c].bytes();
    }
  }
  EXPECT_EQ(found, (std::map<std::int64_t, std::string>{{5, "http://sv.example.org/artikel/35"},
                                                        {6, "http://sv.example.org/artikel/42"},
                                                        {9, "http://sv.example.org/artikel/63"}}));
}

TEST(DatabaseMapTest, ARecordReadInPlaceDigestsAsItsDecodedValues) {
  // id (rowid alias, NULL), 1-byte -5, 6-byte integer, real, constants 0 and 1, "hi", blob "hi";
  // the table has two columns more than the record, as after an ALTER TABLE.
  const std::vector<std::uint8_t> record = {
      9,    0,    1,    5,    7,    8,    9,    17,   16,  // header
      0xFB, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,            // -5, 0x010203040506
      0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18,      // 3.14159...
      'h',  'i',  'h',  'i'};
  const auto header = carve::readRecordHeader(record.data(), record.size(), 16);
  ASSERT_TRUE(header);
  carve::SqlValues values;
  const std::uint8_t* body = record.data() + header->headerLength;
  for (const std::int64_t type : header->serialTypes) {
    values.push_back(carve::decodeValue(type, body));
    body += carve::serialBodyLength(type);
  }
  values.resize(10);
  const std::uint8_t* bodies = record.data() + header->headerLength;
  EXPECT_EQ(carve::recordValuesDigest(*header, bodies, 10, 0), carve::valuesDigest(values, 0));
  // The skipped column leaves the digest alone; a text and a blob of the same bytes differ.
  values[0] = carve::SqlValue::ofInteger(42);
  EXPECT_EQ(carve::recordValuesDigest(*header, bodies, 10, 0), carve::valuesDigest(values, 0));
  std::swap(values[7], values[8]);
  EXPECT_NE(carve::recordValuesDigest(*header, bodies, 10, 0), carve::valuesDigest(values, 0));
}

TEST(DatabaseMapTest, KnowsThePointerMapPagesOfAnAutoVacuumDatabase) {
  MessageDatabase sms(7, JournalMode::Legacy, 1024, 2);  // a pointer-map page maps 204 pages
  sms.db().exec("BEGIN");
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 900; ++i) ids.push_back(sms.add(messageText(i, 200)));
  sms.db().exec("COMMIT");
  for (int i = 100; i < 700; i += 3) sms.remove(ids[static_cast<std::size_t>(i)]);
  ASSERT_TRUE(sms.close());
  const DatabaseImage file = sms.file();
  ASSERT_GT(file.size(), 300 * 1024);
  const auto sources = CarveSources::read("sms.db", file);
  const auto schema = carve::readTableSchema(sources.latest());
  const auto map = carve::mapDatabase(sources.latest(), schema);
  for (const std::int64_t page : {2, 207}) {
    EXPECT_TRUE(map.pointerMapPage(page)) << page;
    const std::uint8_t type = file.at((page - 1) * 1024);  // the first entry's kind
    EXPECT_TRUE(type >= 1 && type <= 5) << page;
  }
  for (const std::int64_t page : {1, 3, 206, 208}) EXPECT_FALSE(map.pointerMapPage(page)) << page;
  for (const CarvedRow& row : carve::carveTables(sources, schema)) {
    EXPECT_FALSE(map.pointerMapPage(row.page)) << row.page;
  }
}

// The newest state is read where each page lies, the log's frames over the file: page for
// page what SQLite writes back when it folds the log in, with a damaged frame past the last
// commit left out.
TEST(CarveSourcesTest, TheNewestStateIsWhatACheckpointWritesBack) {
  MessageDatabase sms(7, JournalMode::Wal);
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 60; ++i) ids.push_back(sms.add(messageText(i, 300)));
  sms.db().exec("PRAGMA wal_checkpoint(TRUNCATE)");
  for (int i = 0; i < 60; i += 4) sms.remove(ids[static_cast<std::size_t>(i)]);
  for (int i = 60; i < 90; ++i) sms.add(messageText(i, 300));  // the file grows in the log
  const DatabaseImage db = sms.file();
  const DatabaseImage log = sms.file("-wal");
  std::vector<std::uint8_t> wal(log.data(), log.data() + log.size());
  const std::size_t frame = 24 + 4096;
  ASSERT_GT(wal.size(), 32 + 3 * frame);
  // A frame of page 1 whose checksum fails, after the last commit.
  std::vector<std::uint8_t> damaged(wal.end() - static_cast<std::ptrdiff_t>(frame), wal.end());
  damaged[3] = 1;
  damaged[24 + 200] ^= 0x5A;
  wal.insert(wal.end(), damaged.begin(), damaged.end());
  sms.db().exec("PRAGMA wal_checkpoint(TRUNCATE)");
  const DatabaseImage folded = sms.file();
  ASSERT_TRUE(sms.close());
  ASSERT_GT(folded.size(), db.size());

  const auto sources = CarveSources::read("sms.db", db, DatabaseImage(wal));
  const carve::DatabasePages latest = sources.latest();
  ASSERT_EQ(latest.pageCount(), folded.size() / 4096);
  ASSERT_EQ(sources.latestPageCount(), latest.pageCount());
  for (std::int64_t page = 1; page <= latest.pageCount(); ++page) {
    const auto place = latest.page(page);
    ASSERT_TRUE(place) << page;
    EXPECT_EQ(
        std::memcmp(place->image->data() + place->offset, folded.data() + (page - 1) * 4096, 4096),
        0)
        << page;
  }
  EXPECT_FALSE(latest.page(latest.pageCount() + 1));
  const auto schema = carve::readTableSchema(latest);
  EXPECT_EQ(schema.tables.size(), carve::readTableSchema(folded).tables.size());
  EXPECT_EQ(carve::mapDatabase(latest, schema).owner, carve::mapDatabase(folded, schema).owner);

  // A last commit that claims four billion pages, its checksums made to hold: the newest
  // state counts only the pages the files hold, and nothing the size of the claim is made.
  std::vector<std::uint8_t> claiming(log.data(), log.data() + log.size());
  std::size_t lastCommit = 0;
  for (std::size_t at = 32; at + frame <= claiming.size(); at += frame) {
    if (claiming[at + 4] != 0 || claiming[at + 5] != 0 || claiming[at + 6] != 0 ||
        claiming[at + 7] != 0) {
      lastCommit = at;
    }
  }
  ASSERT_GT(lastCommit, 0u);
  put32(claiming, static_cast<std::int64_t>(lastCommit) + 4, 0xFFFFFFF0);
  std::uint32_t s0 = 0, s1 = 0;
  carve::logChecksum(claiming.data(), 24, false, s0, s1);
  for (std::size_t at = 32; at + frame <= claiming.size(); at += frame) {
    carve::logChecksum(claiming.data() + at, 8, false, s0, s1);
    carve::logChecksum(claiming.data() + at + 24, 4096, false, s0, s1);
    put32(claiming, static_cast<std::int64_t>(at) + 16, s0);
    put32(claiming, static_cast<std::int64_t>(at) + 20, s1);
  }
  const auto claimed = CarveSources::read("sms.db", db, DatabaseImage(claiming));
  EXPECT_FALSE(claimed.frames().back().badChecksum);
  EXPECT_EQ(claimed.latestPageCount(), folded.size() / 4096);
  EXPECT_FALSE(carveAll(claimed).empty());
}

// A long log's checksums are summed frame by frame on several threads and joined in order:
// every frame SQLite wrote checks, and a changed byte fails its frame and all after it.
TEST(CarveSourcesTest, ChecksAManyFrameLogAsOneRunningChecksum) {
  MessageDatabase sms(7, JournalMode::Wal);
  for (int i = 0; i < 300; ++i) sms.add(messageText(i, 900));
  const DatabaseImage db = sms.file(), log = sms.file("-wal");
  const std::size_t frame = 24 + 4096;
  const std::size_t frames = (log.size() - 32) / frame;
  ASSERT_GT(frames, 600u);
  const auto intact = CarveSources::read("sms.db", db, log);
  ASSERT_EQ(intact.frames().size(), frames);
  for (const auto& f : intact.frames()) EXPECT_FALSE(f.badChecksum) << f.index;

  std::vector<std::uint8_t> wal(log.data(), log.data() + log.size());
  const std::size_t changed = frames / 2 + 7;  // 0-based
  wal[32 + changed * frame + 24 + 1000] ^= 0x01;
  const auto damaged = CarveSources::read("sms.db", db, DatabaseImage(wal));
  ASSERT_EQ(damaged.frames().size(), frames);
  for (const auto& f : damaged.frames()) {
    EXPECT_EQ(f.badChecksum, static_cast<std::size_t>(f.index) > changed) << f.index;
  }
}

TEST(SignatureRecordCheckTest, LeavesOutWhatLiesInALiveCellOrReadsTheSchemaCarversBytesOtherwise) {
  carve::TableSchema schema;
  schema.tables.resize(2);
  schema.tables[0].name = "CalendarItem";
  schema.tables[1].name = "Location";
  carve::CarvedRow row;  // a freed event on page 3, bytes [200, 400) of the page
  row.file = "Calendar.sqlitedb";
  row.page = 3;
  row.pageStart = 2 * 4096;
  row.offset = row.pageStart + 200;
  row.length = 200;
  row.newestPage = true;
  row.repeatsOnNewestPages = {{5, 1000, 1180}};  // the same record, found again on page 5
  carve::LiveCellSpans live;
  live[3] = {{500, 700, 0}, {800, 900, 1}};  // an event's cell, a location's
  carve::SignatureRecordCheck check({row}, live, schema, {"CalendarItem"}, 4096);
  RecordOrigin schemaOrigin =
      RecordOrigin::carved(row.file, 3, row.offset, RecordOrigin::Place::Freeblock);
  check.addText(schemaOrigin, "Dentist");
  auto at = [](std::int64_t inPage) {
    return RecordOrigin::carved("Calendar.sqlitedb", 3, 2 * 4096 + inPage,
                                RecordOrigin::Place::RecordSignature);
  };
  EXPECT_TRUE(check.misreads(at(230), "Dentis"));    // cut short where the schema read more
  EXPECT_FALSE(check.misreads(at(230), "Dentist"));  // the same reading
  EXPECT_TRUE(check.readsAlike(at(230), "Dentist"));
  EXPECT_FALSE(check.readsAlike(at(230), "Dentis"));
  EXPECT_TRUE(check.inLiveCell(at(600)));
  EXPECT_TRUE(check.misreads(at(600), "Yoga"));   // a live event's bytes
  EXPECT_FALSE(check.misreads(at(850), "Yoga"));  // a live row of another table
  EXPECT_FALSE(check.misreads(at(450), "Yoga"));  // where neither found a record
  EXPECT_FALSE(carve::SignatureRecordCheck().misreads(at(600), "Yoga"));
  const RecordOrigin onPage5 = RecordOrigin::carved("Calendar.sqlitedb", 5, 4 * 4096 + 1001,
                                                    RecordOrigin::Place::RecordSignature);
  EXPECT_TRUE(check.misreads(onPage5, "Dentis"));  // the repeat's bytes read otherwise
  EXPECT_TRUE(check.readsAlike(onPage5, "Dentist"));
}

TEST(SchemaCarverTest, RebuildsTheStartOfARecordAFreeblockOverwrote) {
  for (int generation : {6, 17}) {
    MessageDatabase sms(generation, JournalMode::Legacy);
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 12; ++i) ids.push_back(sms.add(messageText(i, 40 + i * 7), 400000000 + i));
    sms.remove(ids[5]);
    ASSERT_TRUE(sms.close());
    const DatabaseImage file = sms.file();
    const auto rows = carveAll(CarveSources::read("sms.db", file));
    const CarvedRow* row = withText(rows, messageText(5, 40 + 5 * 7));
    ASSERT_NE(row, nullptr) << generation;
    EXPECT_EQ(row->place, CarvedRecordPlace::kFreeblock);
    EXPECT_TRUE(row->headerRebuilt);
    EXPECT_EQ(textOf(*row, 1), "G-6-" + std::to_string(40 + 5 * 7));
    const auto schema = carve::readTableSchema(file);
    const auto* message = schema.table("message");
    for (std::size_t c = 0; c < message->columns.size(); ++c) {
      if (message->columns[c].name == "date") {
        EXPECT_EQ(row->values[c].integer, 400000005);
      }
      if (message->columns[c].name == "handle_id") {
        EXPECT_EQ(row->values[c].integer, 3);
      }
    }
    EXPECT_EQ(row->file, "sms.db");
    EXPECT_TRUE(holdsText(file, *row, messageText(5, 40 + 5 * 7), (row->page - 1) * 4096, 4096));
    EXPECT_EQ(rows.size(), 1u) << "only the deleted row";
  }
}

// A freed cell whose payload went on to overflow pages: its payload length is lost with the
// freeblock header, and is rebuilt from the serial types; the chain's pages lie on the
// freelist as they were.
TEST(SchemaCarverTest, FollowsTheOverflowChainOfACellInAFreeblock) {
  for (int generation : {6, 17}) {
    MessageDatabase sms(generation, JournalMode::Legacy);
    for (int i = 0; i < 3; ++i) sms.add(messageText(i));
    sms.remove(sms.add(messageText(500, 20000)));  // its pages start the freelist
    const std::string longText = messageText(501, 6000);
    const std::int64_t gone = sms.add(longText);
    for (int i = 3; i < 5; ++i) sms.add(messageText(i));
    sms.remove(gone);
    ASSERT_TRUE(sms.close());
    const auto rows = carveAll(CarveSources::read("sms.db", sms.file()));
    const CarvedRow* row = withText(rows, longText);
    ASSERT_NE(row, nullptr) << generation;
    EXPECT_EQ(row->place, CarvedRecordPlace::kOverflow);
    EXPECT_TRUE(row->headerRebuilt);
    EXPECT_EQ(textOf(*row, 1), "G-5-6000");
  }
}

TEST(SchemaCarverTest, FindsDeletedRowsInTheGapOnFreelistPagesAndBehindOverflowChains) {
  MessageDatabase sms(6, JournalMode::Legacy);
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 160; ++i) ids.push_back(sms.add(messageText(i, 300)));
  const std::string longText = messageText(999, 9000);
  ids.push_back(sms.add(longText));
  ids.push_back(sms.add(messageText(1000, 80)));
  sms.remove(ids.back());  // the newest cell: the content area shrinks
  for (int i = 30; i < 120; ++i) sms.remove(ids[static_cast<std::size_t>(i)]);  // whole pages
  ASSERT_TRUE(sms.close());
  const DatabaseImage file = sms.file();
  const auto rows = carveAll(CarveSources::read("sms.db", file));

  const CarvedRow* gap = withText(rows, messageText(1000, 80));
  ASSERT_NE(gap, nullptr);
  EXPECT_EQ(gap->place, CarvedRecordPlace::kUnallocated);
  EXPECT_TRUE(holdsText(file, *gap, messageText(1000, 80), (gap->page - 1) * 4096, 4096));

  // Of the deleted texts the file still holds (a balance of the b-tree rewrites pages and
  // loses some), every one comes back.
  const std::string_view bytes(reinterpret_cast<const char*>(file.data()),
                               static_cast<std::size_t>(file.size()));
  std::size_t onFreelist = 0, recovered = 0, ceiling = 0;
  for (int i = 30; i < 120; ++i) {
    const bool held = bytes.find(messageText(i, 300)) != std::string_view::npos;
    ceiling += held ? 1 : 0;
    const CarvedRow* row = withText(rows, messageText(i, 300));
    if (row == nullptr) continue;
    ++recovered;
    if (row->place != CarvedRecordPlace::kFreelist) continue;
    ++onFreelist;
    if (row->headerRebuilt) continue;
    ASSERT_TRUE(row->rowid.has_value());
    EXPECT_EQ(*row->rowid, ids[static_cast<std::size_t>(i)]);
    EXPECT_EQ(row->values[0].integer, ids[static_cast<std::size_t>(i)]);  // the rowid column
    EXPECT_TRUE(holdsText(file, *row, messageText(i, 300), (row->page - 1) * 4096, 4096));
  }
  EXPECT_GE(recovered + 2, ceiling);  // a trunk's list may overwrite a record's start
  EXPECT_GE(ceiling, 70u);
  EXPECT_GT(onFreelist, 20u);
  for (const auto& row : rows) {
    const std::string_view text = row.values[2].bytes();
    EXPECT_TRUE(text == messageText(1000, 80) || text.rfind("Message ", 0) == 0) << text;
  }
}

// Bytes in free space that read as a cell whose record fits a table but is shorter than its
// payload length says are no record, and do not hide the real cell the length runs over.
TEST(SchemaCarverTest, ACellWhosePayloadLengthIsNotItsRecordsHidesNothing) {
  MessageDatabase sms(7, JournalMode::Legacy);
  for (int i = 0; i < 5; ++i) sms.add(messageText(i, 120));
  sms.remove(sms.add(messageText(1000, 80)));  // the newest cell: it is left in the gap
  ASSERT_TRUE(sms.close());
  auto bytes = fixtures::readFileBytes(sms.db().path());
  ASSERT_TRUE(bytes);
  const auto before = carveAll(CarveSources::read("sms.db", DatabaseImage(*bytes)));
  const CarvedRow* freed = withText(before, messageText(1000, 80));
  ASSERT_NE(freed, nullptr);
  ASSERT_EQ(freed->place, CarvedRecordPlace::kUnallocated);
  // 14 bytes before it: a handle row ("abc", "xyz") of 14 bytes whose payload length, 64,
  // runs over the freed cell.
  const std::vector<std::uint8_t> chance = {64, 1,   6,   0,   19,  19,  0,
                                            0,  'a', 'b', 'c', 'x', 'y', 'z'};
  const auto at = static_cast<std::size_t>(freed->offset) - 16;
  for (std::size_t i = 0; i < chance.size(); ++i) (*bytes)[at + i] = chance[i];
  const auto rows = carveAll(CarveSources::read("sms.db", DatabaseImage(*bytes)));
  const CarvedRow* again = withText(rows, messageText(1000, 80));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->offset, freed->offset);
  for (const auto& row : rows) EXPECT_NE(row.table, "handle") << row.offset;
}

// An iOS 7 message with a guid and a text, every other column NULL, as a cell of rowid 9999.
std::vector<std::uint8_t> plantedMessageCell(const std::string& text) {
  const std::string guid = "G-planted";
  std::vector<std::uint8_t> record = {39, 0, static_cast<std::uint8_t>(13 + 2 * guid.size()),
                                      static_cast<std::uint8_t>(13 + 2 * text.size())};
  record.resize(39, 0);
  record.insert(record.end(), guid.begin(), guid.end());
  record.insert(record.end(), text.begin(), text.end());
  std::vector<std::uint8_t> cell = {static_cast<std::uint8_t>(record.size()), 0x80 | 78, 15};
  cell.insert(cell.end(), record.begin(), record.end());
  return cell;
}

// An index leaf whose gap holds the pointers and the cells of entries deleted from it: a
// deleted message's cell put among those old cells is found all the same.
TEST(SchemaCarverTest, FindsACellAmongTheOldCellsOfAnIndexLeaf) {
  MessageDatabase sms(7, JournalMode::Legacy);
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 400; ++i) ids.push_back(sms.add(messageText(i)));
  for (int i = 399; i >= 300; --i) sms.remove(ids[static_cast<std::size_t>(i)]);
  ASSERT_TRUE(sms.close());
  auto bytes = fixtures::readFileBytes(sms.db().path());
  ASSERT_TRUE(bytes);
  const std::string text = "a text among the index's old cells";
  const std::vector<std::uint8_t> cell = plantedMessageCell(text);
  const DatabaseImage image(*bytes);
  const carve::PageGeometry geometry = carve::geometryOf(image);
  std::int64_t planted = 0;
  for (std::int64_t page = 2; !planted && page * 4096 <= image.size(); ++page) {
    const std::int64_t start = (page - 1) * 4096;
    const auto header = carve::readPageHeader(image, start, 0, geometry);
    if (!header || header->kind != carve::kIndexLeaf) continue;
    const auto shape = carve::IndexCellShape::ofPage(image, start, *header, geometry);
    const std::int64_t gapEnd = start + header->contentStart;
    // The first old cell of the index past the stale pointers, with three after it.
    std::int64_t at = start + carve::staleCellPointersEnd(image, start, header->pointerArrayEnd,
                                                          header->contentStart, geometry);
    for (; at < gapEnd; ++at) {
      std::int64_t next = at;
      int cells = 0;
      while (cells < 4) {
        const auto end = shape.cellEnd(image, next, gapEnd);
        if (!end) break;
        next = *end;
        ++cells;
      }
      if (cells == 4) break;
    }
    if (at >= gapEnd || at - start < header->pointerArrayEnd + 20) continue;
    const auto second = shape.cellEnd(image, *shape.cellEnd(image, at, gapEnd), gapEnd);
    if (*second + static_cast<std::int64_t>(cell.size()) > gapEnd) continue;
    planted = *second;
  }
  ASSERT_NE(planted, 0);
  std::copy(cell.begin(), cell.end(), bytes->begin() + planted);
  const auto rows = carveAll(CarveSources::read("sms.db", DatabaseImage(*bytes)));
  const CarvedRow* row = withText(rows, text);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->offset, planted);
  EXPECT_EQ(row->rowid, 9999);
}

// A log frame of an index page: the page as the database file has it, with a deleted message's
// cell put low in its gap. The gap above the cell is the file's version's, which was probed
// and held nothing; the cell is still found, with one version carved at a time as with all.
TEST(SchemaCarverTest, AGapSeenEmptyIsProbedAgainWhereItsBytesChanged) {
  MessageDatabase sms(7, JournalMode::Wal);
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 40; ++i) ids.push_back(sms.add(messageText(i)));
  sms.db().exec("PRAGMA wal_checkpoint(TRUNCATE)");
  sms.remove(ids[20]);
  const DatabaseImage db = sms.file(), log = sms.file("-wal");
  std::vector<std::uint8_t> wal(log.data(), log.data() + log.size());
  ASSERT_TRUE(sms.close());
  const std::string text = "a text only the log's index page holds";
  const std::vector<std::uint8_t> cell = plantedMessageCell(text);
  bool planted = false;
  for (std::size_t frame = 32; !planted && frame + 24 + 4096 <= wal.size(); frame += 24 + 4096) {
    const std::uint32_t page =
        (wal[frame] << 24) | (wal[frame + 1] << 16) | (wal[frame + 2] << 8) | wal[frame + 3];
    const std::uint8_t* old = db.data() + (page - 1) * 4096;
    if (page < 2 || old[0] != 10) continue;  // an index leaf page of the file
    const std::size_t gapBegin = 8 + 2 * ((old[3] << 8) | old[4]), gapEnd = (old[5] << 8) | old[6];
    if (gapEnd < gapBegin + cell.size() + 600) continue;
    std::copy(old, old + 4096, wal.begin() + static_cast<std::ptrdiff_t>(frame + 24));
    std::copy(cell.begin(), cell.end(),
              wal.begin() + static_cast<std::ptrdiff_t>(frame + 24 + gapBegin + 16));
    planted = true;
  }
  ASSERT_TRUE(planted);
  const auto sources = CarveSources::read("sms.db", db, DatabaseImage(wal));
  const auto schema = carve::readTableSchema(sources.latest());
  carve::CarveLimits oneAtATime;
  oneAtATime.batch = 1;
  const auto rows = carve::carveTables(sources, schema, oneAtATime);
  const CarvedRow* row = withText(rows, text);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->file, "sms.db-wal");
  EXPECT_EQ(row->rowid, 9999);
  EXPECT_EQ(rows.size(), carve::carveTables(sources, schema).size());
}

// Two commits in the log: a text is inserted, then deleted. The older frame still has it.
TEST(SchemaCarverTest, BringsBackARowOnlyAnOlderLogFrameRemembers) {
  MessageDatabase sms(17, JournalMode::Wal);
  for (int i = 0; i < 5; ++i) sms.add(messageText(i));
  const std::string longText = messageText(77, 7000);
  const std::int64_t gone = sms.add("a text the log remembers");
  const std::int64_t goneLong = sms.add(longText);
  sms.remove(gone);
  sms.remove(goneLong);
  const DatabaseImage db = sms.file(), wal = sms.file("-wal");
  ASSERT_GT(wal.size(), 32);
  const auto sources = CarveSources::read("sms.db", db, wal);
  const auto rows = carveAll(sources);
  ASSERT_TRUE(sms.close());

  const CarvedRow* row = withText(rows, "a text the log remembers");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->file, "sms.db-wal");
  EXPECT_FALSE(row->badChecksum);
  ASSERT_TRUE(row->rowid.has_value());
  EXPECT_EQ(*row->rowid, gone);
  // The earliest commit that holds the row, named by its frame.
  const auto& frames = sources.frames();
  const auto frame = std::find_if(frames.begin(), frames.end(), [&](const carve::LogFrame& f) {
    return f.index == row->logFrame;
  });
  ASSERT_NE(frame, frames.end());
  EXPECT_EQ(frame->commit, row->logCommit);
  EXPECT_EQ(frame->page, row->page);
  EXPECT_GE(row->offset, frame->offset);
  EXPECT_LT(row->offset, frame->offset + 4096);
  EXPECT_EQ(row->place, CarvedRecordPlace::kLogFrame);

  const CarvedRow* spilled = withText(rows, longText);
  ASSERT_NE(spilled, nullptr);
  EXPECT_EQ(spilled->place, CarvedRecordPlace::kOverflow);

  // Nothing invented: every carved text is one that was inserted.
  for (const auto& r : rows) {
    const std::string_view text = r.values[2].bytes();
    EXPECT_TRUE(text == longText || text == "a text the log remembers" ||
                text.rfind("Message ", 0) == 0)
        << text;
  }
}

// A deleted row is found in every frame that kept its page; it is one record. Two deleted rows
// alike in every value but the rowid are two.
TEST(SchemaCarverTest, KeepsARowFoundInManyPlacesOnceAndTwinsUnderTwoRowidsTwice) {
  MessageDatabase sms(7, JournalMode::Wal);
  for (int i = 0; i < 5; ++i) sms.add(messageText(i));
  auto twin = [&sms] {
    return sms.db().insert("message", {{"guid", std::string("G-twin")},
                                       {"text", std::string("twin text")},
                                       {"service", std::string("SMS")},
                                       {"date", std::int64_t{400000001}},
                                       {"handle_id", std::int64_t{3}}});
  };
  const std::int64_t first = twin();
  sms.remove(first);
  const std::int64_t second = twin();
  sms.remove(second);
  sms.remove(sms.add("deleted, then kept by every later frame"));
  for (int i = 5; i < 10; ++i) sms.add(messageText(i));
  const auto sources = CarveSources::read("sms.db", sms.file(), sms.file("-wal"));
  ASSERT_TRUE(sms.close());
  const auto rows = carveAll(sources);
  std::vector<std::int64_t> twins;
  int once = 0;
  for (const CarvedRow& row : rows) {
    if (textOf(row, 2) == "twin text") twins.push_back(row.rowid.value_or(-1));
    if (textOf(row, 2) == "deleted, then kept by every later frame") ++once;
  }
  std::sort(twins.begin(), twins.end());
  EXPECT_EQ(twins, (std::vector<std::int64_t>{first, second}));
  EXPECT_EQ(once, 1);
}

// A row the database file still holds live, deleted by a commit that is only in the log.
TEST(SchemaCarverTest, BringsBackARowTheLogDeletedFromTheDatabaseFile) {
  MessageDatabase sms(6, JournalMode::Wal);
  for (int i = 0; i < 5; ++i) sms.add(messageText(i));
  const std::int64_t gone = sms.add("live in the file, gone in the log");
  sms.db().exec("PRAGMA wal_checkpoint(TRUNCATE)");
  sms.remove(gone);
  // The files' images are gone once carved: the rows' texts outlive them.
  const auto rows = carveAll(CarveSources::read("sms.db", sms.file(), sms.file("-wal")));
  ASSERT_TRUE(sms.close());
  const CarvedRow* row = withText(rows, "live in the file, gone in the log");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->place, CarvedRecordPlace::kLiveOldVersion);
  EXPECT_EQ(row->file, "sms.db");
  EXPECT_EQ(row->rowid, gone);
  EXPECT_EQ(rows.size(), 1u);
}

TEST(SchemaCarverTest, MarksFramesPastABadChecksumAndStillCarvesThem) {
  MessageDatabase sms(6, JournalMode::Wal);
  for (int i = 0; i < 5; ++i) sms.add(messageText(i));
  sms.db().exec("PRAGMA wal_checkpoint(TRUNCATE)");
  const std::int64_t gone = sms.add("deleted behind a damaged frame");
  sms.remove(gone);
  const DatabaseImage log = sms.file("-wal");
  std::vector<std::uint8_t> wal(log.data(), log.data() + log.size());
  const DatabaseImage db = sms.file();
  ASSERT_TRUE(sms.close());
  ASSERT_GT(wal.size(), 32u + 24 + 4096);
  wal[32 + 24 + 100] ^= 0xFF;  // the first frame's page
  const auto sources = CarveSources::read("sms.db", db, DatabaseImage(wal));
  ASSERT_FALSE(sources.frames().empty());
  for (const auto& frame : sources.frames()) EXPECT_TRUE(frame.badChecksum);
  const auto rows = carveAll(sources);
  const CarvedRow* row = withText(rows, "deleted behind a damaged frame");
  ASSERT_NE(row, nullptr);
  EXPECT_TRUE(row->badChecksum);
  EXPECT_EQ(row->file, "sms.db-wal");
}

TEST(SchemaCarverTest, ReadsThePagesARollbackJournalSaved) {
  MessageDatabase sms(6, JournalMode::Legacy);
  for (int i = 0; i < 8; ++i) sms.add(messageText(i));
  const std::int64_t gone = sms.add("kept by the journal");
  sms.db().exec("PRAGMA journal_mode=PERSIST");
  sms.db().exec("PRAGMA secure_delete=ON");  // the database itself forgets the row
  sms.remove(gone);
  const DatabaseImage db = sms.file(), journal = sms.file("-journal");
  ASSERT_GT(journal.size(), 512);
  const auto sources = CarveSources::read("sms.db", db, std::nullopt, journal);
  ASSERT_FALSE(sources.journalPages().empty());
  const auto rows = carveAll(sources);
  const CarvedRow* row = withText(rows, "kept by the journal");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->place, CarvedRecordPlace::kJournal);
  EXPECT_EQ(row->file, "sms.db-journal");
  ASSERT_TRUE(row->rowid.has_value());
  EXPECT_EQ(*row->rowid, gone);
  sms.db().exec("PRAGMA journal_mode=DELETE");
  EXPECT_TRUE(sms.close());
}

}  // namespace

namespace {

// Damage of every kind a file can bring: the carver ends, reads only inside its images and
// names only places that exist.
TEST(SchemaCarverTest, EndsOnDamagedFilesAndReadsOnlyInsideThem) {
  MessageDatabase sms(6, JournalMode::Legacy, 1024);
  std::vector<std::int64_t> ids;
  for (int i = 0; i < 60; ++i) ids.push_back(sms.add(messageText(i, i % 7 == 0 ? 3000 : 200)));
  for (int i = 10; i < 50; ++i) sms.remove(ids[static_cast<std::size_t>(i)]);
  ASSERT_TRUE(sms.close());
  const DatabaseImage image = sms.file();
  const std::vector<std::uint8_t> good(image.data(), image.data() + image.size());
  const std::int64_t pageSize = 1024, pages = image.size() / pageSize;

  std::vector<std::pair<const char*, std::vector<std::uint8_t>>> damaged;
  {
    auto bytes = good;  // a freelist whose trunk names itself, its leaves past the end
    const std::uint32_t trunk = carve::read32(image, 32);
    ASSERT_NE(trunk, 0u);
    put32(bytes, (trunk - 1) * pageSize, trunk);
    put32(bytes, (trunk - 1) * pageSize + 8, 0x7FFFFFFF);
    put32(bytes, (trunk - 1) * pageSize + 12, trunk);
    damaged.emplace_back("cyclic freelist", std::move(bytes));
  }
  {
    auto bytes = good;  // every page's first four bytes name the page: cyclic overflow chains
    for (std::int64_t p = 2; p <= pages; ++p) put32(bytes, (p - 1) * pageSize, p);
    damaged.emplace_back("cyclic chains", std::move(bytes));
  }
  {
    auto bytes = good;  // cell pointers and freeblocks past the page
    for (std::int64_t p = 2; p <= pages; ++p) {
      const std::int64_t at = (p - 1) * pageSize;
      bytes[at + 1] = bytes[at + 2] = 0xFF;
      for (int i = 8; i < 64; ++i) bytes[at + i] = 0xFF;
    }
    damaged.emplace_back("offsets past the page", std::move(bytes));
  }
  for (const std::uint16_t size : {0, 1000, 3}) {
    auto bytes = good;
    bytes[16] = static_cast<std::uint8_t>(size >> 8);
    bytes[17] = static_cast<std::uint8_t>(size & 0xFF);
    damaged.emplace_back("odd page size", std::move(bytes));
  }
  {
    auto bytes = good;  // cut in the middle of a page
    bytes.resize(bytes.size() / 2 + 100);
    damaged.emplace_back("cut short", std::move(bytes));
  }
  for (auto& [what, bytes] : damaged) {
    std::vector<std::uint8_t> log(32 + 24 + 1024, 0x5A);  // a log of one frame, wrong salt
    put32(log, 0, 0x377f0682);
    put32(log, 8, 1024);
    put32(log, 32, 3);
    put32(log, 36, 9);
    const auto sources = CarveSources::read("sms.db", DatabaseImage(bytes), DatabaseImage(log),
                                            DatabaseImage(std::vector<std::uint8_t>(600, 0xd9)));
    for (const auto& frame : sources.frames()) EXPECT_TRUE(frame.badChecksum) << what;
    for (const auto& row : carveAll(sources)) {
      const DatabaseImage& file = row.file == "sms.db"       ? sources.database()
                                  : row.file == "sms.db-wal" ? sources.log()
                                                             : sources.journal();
      EXPECT_TRUE(file.contains(row.offset)) << what;
      EXPECT_GE(row.page, 1) << what;
    }
  }
}

}  // namespace
