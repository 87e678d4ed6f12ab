#include "carve/deleted_calendar_scanner.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/carve_steps.h"
#include "backup_builder.h"
#include "base/conversions.h"
#include "calendar_calls_volume.h"
#include "carve/deleted_calls_scanner.h"
#include "extract/device_databases.h"
#include "fixture_support.h"
#include "support/folder_hash.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using fixtures::Blob;
using fixtures::encodeCell;
using fixtures::freedCell;
using fixtures::HandMadeDatabase;
using fixtures::SqlValue;

constexpr int kPageSize = 4096;
// 2013-06-11 08:30 and 09:15 UTC in seconds since 2001.
constexpr std::int64_t kStart = 392632200;
constexpr std::int64_t kEnd = 392634900;

struct EventValues {
  std::string title = "Dentist";
  std::int64_t locationId = 0;
  std::optional<std::string> note;
  std::optional<Blob> externalRep;
  std::size_t columns = 51;  // 51 on iOS 6, 52 on iOS 7
};

// A CalendarItem row as the calendar writes it, cut or padded to `columns` columns.
std::vector<SqlValue> calendarItem(const EventValues& v) {
  std::vector<SqlValue> row = {nullptr,
                               v.title,
                               v.locationId,
                               v.note ? SqlValue(*v.note) : SqlValue(nullptr),
                               kStart,
                               std::string("Europe/Stockholm"),
                               kEnd,
                               std::int64_t{0},
                               std::int64_t{1},
                               std::int64_t{0},  // orig_item_id
                               std::int64_t{0},  // orig_date
                               std::int64_t{0},
                               std::int64_t{0},
                               std::int64_t{0},
                               std::int64_t{0},
                               std::int64_t{0},
                               std::int64_t{0},  // organizer .. privacy_level
                               nullptr,
                               kStart - 604800,
                               std::int64_t{0},
                               std::int64_t{-1},
                               std::int64_t{0},
                               std::int64_t{0},
                               nullptr,
                               nullptr,
                               std::string("6F1D6C3E-8C1B-4E0F-9A63-2C9A0B7E51D2"),
                               nullptr,
                               v.externalRep ? SqlValue(*v.externalRep) : SqlValue(nullptr),
                               nullptr,
                               std::int64_t{0},
                               std::int64_t{0},
                               std::int64_t{0},
                               std::string("0B7E51D2-2C9A-4E0F-9A63-6F1D6C3E8C1B"),
                               std::int64_t{2},
                               std::int64_t{0},
                               nullptr,
                               nullptr,
                               std::int64_t{0},
                               nullptr,
                               kStart - 604800,
                               nullptr,
                               std::int64_t{0},
                               std::int64_t{-1},
                               std::int64_t{-1},
                               nullptr,
                               nullptr,
                               nullptr,
                               nullptr,
                               std::int64_t{0},
                               std::int64_t{0},
                               std::int64_t{0}};
  row.resize(v.columns, nullptr);
  return row;
}

// A page of events: one live event first, then each freed event in the free space.
std::vector<std::uint8_t> eventPage(bool writeAhead, const std::vector<EventValues>& freed,
                                    std::size_t liveColumns = 51) {
  HandMadeDatabase db(kPageSize, writeAhead, 3);
  EventValues live;
  live.title = "Team meeting";
  live.columns = liveColumns;
  db.setPage(1, 0x0D, encodeCell(1, calendarItem(live)));
  std::int64_t at = db.pageOffset(1) + 200;
  std::int64_t rowid = 2;
  for (const EventValues& v : freed) {
    const auto cell = freedCell(encodeCell(rowid++, calendarItem(v)));
    db.put(at, cell);
    at += static_cast<std::int64_t>(cell.size()) + 40;
  }
  return db.bytes();
}

std::vector<std::shared_ptr<MzCalenderNode>> carve(std::vector<std::uint8_t> bytes, bool writeAhead,
                                                   bool iOS6) {
  std::vector<std::shared_ptr<MzCalenderNode>> events;
  const CarveDatabase db = CarveDatabase::fromImage(DatabaseImage(std::move(bytes)));
  carveDeletedCalendarEvents(db, writeAhead, iOS6,
                             [&](std::shared_ptr<MzCalenderNode> e) { events.push_back(e); });
  return events;
}

std::shared_ptr<MzCalenderNode> withTitle(
    const std::vector<std::shared_ptr<MzCalenderNode>>& events, const std::string& title) {
  for (const auto& e : events)
    if (e->calTitle == title) return e;
  return nullptr;
}

TEST(DeletedCalendarProbes, ByteClassesAndHeaderLengths) {
  const DatabaseImage file(
      {0x08, 0x00, 0x01, 0x09, 0x02, 0x80, 0x89, 0x8A, 0x2C, 0x2A, 0x2E, 0x20, 0x23, 0x24});
  // Version 1 rejects the serial types of small integers and NULL, anything else is a
  // two-byte note; version 0 wants the first byte of a two-byte serial type.
  EXPECT_FALSE(DescriptionIsAlterbleDBFile(file, 0, 1));
  EXPECT_FALSE(DescriptionIsAlterbleDBFile(file, 3, 1));
  EXPECT_TRUE(DescriptionIsAlterbleDBFile(file, 4, 1));
  EXPECT_FALSE(DescriptionIsAlterbleDBFile(file, 4, 0));
  EXPECT_TRUE(DescriptionIsAlterbleDBFile(file, 5, 0));
  EXPECT_TRUE(DescriptionIsAlterbleDBFile(file, 6, 0));
  EXPECT_FALSE(DescriptionIsAlterbleDBFile(file, 7, 0));
  EXPECT_FALSE(TitileIsAlterbleDBFile(file, 1));
  EXPECT_TRUE(TitileIsAlterbleDBFile(file, 2));
  EXPECT_FALSE(TitileIsAlterbleDBFile(file, 100));  // past the end reads as 0x00
  // Header lengths 42..45 (version 1) and 32..35 (version 0) give the serial-type count.
  EXPECT_EQ(accquireFieldLengthVersion(file, 8, 1), 43);
  EXPECT_EQ(accquireFieldLengthVersion(file, 9, 1), 41);
  EXPECT_EQ(accquireFieldLengthVersion(file, 10, 1), 0);
  EXPECT_EQ(accquireFieldLengthVersion(file, 8, 0), 0);
  EXPECT_EQ(accquireFieldLengthVersion(file, 11, 0), 31);
  EXPECT_EQ(accquireFieldLengthVersion(file, 12, 0), 34);
  EXPECT_EQ(accquireFieldLengthVersion(file, 13, 0), 0);
  EXPECT_EQ(accquireFieldLengthVersion(file, 8, 2), 0);
  EXPECT_TRUE(IsExtra_AttributeAlter(file, 4, 24));
  EXPECT_FALSE(IsExtra_AttributeAlter(file, 2, 24));
  EXPECT_FALSE(IsExtra_AttributeAlter(file, 4, 23));
  EXPECT_TRUE(unique_identifAlter(file, 4, 1));
  EXPECT_FALSE(unique_identifAlter(file, 1, 1));
  EXPECT_FALSE(unique_identifAlter(file, 4, 0));
}

TEST(DeletedCalendarWriteAhead, FreedEventsOfEveryHeaderShape) {
  ScopedEnv tz("TZ", "UTC");
  EventValues plain;
  plain.title = "Dentist";
  plain.note = "Bring cinnamon buns";
  EventValues longNote;  // d = 1: the note's serial type takes two bytes
  longNote.title = "Book club";
  longNote.note =
      "Bring the signed contract and copies of the last two invoices. Call Lena if late.";
  EventValues withRep;  // a two-byte blob type further on: one more serial-type byte
  withRep.title = "Ferry to Visby";
  withRep.externalRep = Blob{std::vector<std::uint8_t>(90, 0x42)};
  EventValues longTitle;  // t = 1
  longTitle.title = "Quarterly business review with the Nordic sales team and partners";
  const auto events = carve(eventPage(true, {plain, longNote, withRep, longTitle}), true, true);

  const std::string start = dateText(kStart, 1);
  const std::string end = dateText(kEnd, 1);
  ASSERT_EQ(start, "06-11-2013 08:30");
  std::shared_ptr<MzCalenderNode> e = withTitle(events, "Dentist");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->calNote, "Bring cinnamon buns");
  EXPECT_EQ(e->startDate, start);
  EXPECT_EQ(e->endDate, end);
  EXPECT_EQ(e->location, "");  // this layout does not read the location
  e = withTitle(events, "Book club");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->calNote, *longNote.note);
  EXPECT_EQ(e->startDate, start);
  EXPECT_EQ(e->endDate, end);
  e = withTitle(events, "Ferry to Visby");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->startDate, start);
  EXPECT_EQ(e->endDate, end);
  EXPECT_NE(withTitle(events, longTitle.title), nullptr);
  // The live first cell is carved too (the results drop it as a duplicate).
  EXPECT_NE(withTitle(events, "Team meeting"), nullptr);
}

TEST(DeletedCalendarWriteAhead, CountsAndMinimums) {
  ScopedEnv tz("TZ", "UTC");
  const std::string start = dateText(kStart, 1);
  const std::int64_t cellStart = kPageSize + 200;
  // With the live first cell unreadable the fixed minimums apply. A header-length byte of
  // 0x2C gives 43, below the iOS 6 minimum of 51: the count stays 51. Without the iOS 6 flag
  // the minimum is 41 and the bodies are read ten bytes early.
  EventValues v;
  v.title = "Haircut";
  auto bytes = eventPage(true, {v});
  const std::int64_t live = kPageSize + (bytes[kPageSize + 8] << 8) + bytes[kPageSize + 9];
  bytes[live + 3] = 0x7F;
  ASSERT_EQ(cellColumnCount(DatabaseImage(bytes), live), 0);
  bytes[cellStart + 3] = 0x2C;  // the freeblock size sits where the header length was
  std::shared_ptr<MzCalenderNode> e = withTitle(carve(bytes, true, true), "Haircut");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->startDate, start);
  EXPECT_EQ(withTitle(carve(bytes, true, false), "Haircut"), nullptr);
  // A non-empty column at k + 16 (a long blob whose serial type takes two bytes) adds one.
  v.externalRep = Blob{std::vector<std::uint8_t>(90, 0x42)};
  bytes = eventPage(true, {v});
  bytes[live + 3] = 0x7F;
  e = withTitle(carve(bytes, true, true), "Haircut");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->startDate, start);
  EXPECT_EQ(e->endDate, dateText(kEnd, 1));

  // A readable live first cell gives the table's width: 52 columns on iOS 7, 42 on an
  // older table, whatever the flag says.
  for (std::size_t columns : {std::size_t{52}, std::size_t{42}}) {
    EventValues w;
    w.title = "Yoga";
    w.columns = columns;
    for (bool iOS6 : {true, false}) {
      e = withTitle(carve(eventPage(true, {w}, columns), true, iOS6), "Yoga");
      ASSERT_NE(e, nullptr) << columns << " " << iOS6;
      EXPECT_EQ(e->startDate, start) << columns;
      EXPECT_EQ(e->endDate, dateText(kEnd, 1)) << columns;
    }
  }
}

TEST(DeletedCalendarWithoutLog, NoteWidthMovesTheHeaderStart) {
  ScopedEnv tz("TZ", "UTC");
  const std::string start = dateText(kStart, 1);
  EventValues shortNote;  // m = 0: header start j - 11, count 31
  shortNote.title = "Lunch with Erik";
  shortNote.locationId = 3;
  shortNote.note = "Café Pascal";
  shortNote.columns = 31;
  EventValues longNote;  // m = 1: the byte at j - 9 is 0x80..0x89, header start j - 12, count 32
  longNote.title = "Car service";
  longNote.note = "Winter tyres are in the storage room, key on the hook. Ask about the brakes.";
  longNote.columns = 31;
  const auto events = carve(eventPage(false, {shortNote, longNote}, 31), false, true);
  std::shared_ptr<MzCalenderNode> e = withTitle(events, "Lunch with Erik");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->location, "3");  // the location's row id, as decimal text
  EXPECT_EQ(e->calNote, "Café Pascal");
  EXPECT_EQ(e->startDate, start);
  EXPECT_EQ(e->endDate, dateText(kEnd, 1));
  e = withTitle(events, "Car service");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->calNote, *longNote.note);
  EXPECT_EQ(e->startDate, start);  // from position 5
}

TEST(DeletedCalendarPages, OnlyEventLeafPagesAreCarved) {
  EventValues v;
  v.title = "Gym";
  auto bytes = eventPage(true, {v});
  EXPECT_NE(withTitle(carve(bytes, true, true), "Gym"), nullptr);
  auto interior = bytes;
  interior[kPageSize] = 0x05;  // a table interior page is not carved
  EXPECT_TRUE(carve(interior, true, true).empty());
  auto otherTable = bytes;
  // A first cell pointing at bytes that are not an event (past the page) fails the page test.
  otherTable[kPageSize + 8] = 0xFF;
  otherTable[kPageSize + 9] = 0xF0;
  EXPECT_TRUE(carve(otherTable, true, true).empty());
}

// A file of many pages is carved by two threads; what is posted, and in what order, must
// be what one carver posts, on the caller's thread only, for both layouts.
TEST(DeletedCalendarPages, TwoCarversGiveWhatOneGives) {
  constexpr int kPages = 600;
  std::mt19937 random(9);
  for (const bool writeAhead : {true, false}) {
    HandMadeDatabase db(kPageSize, writeAhead, kPages);
    std::int64_t rowid = 1;
    for (int page = 1; page < kPages; ++page) {
      EventValues live;
      live.title = "Live " + std::to_string(page);
      db.setPage(page, page % 9 == 0 ? 0x05 : 0x0D, encodeCell(rowid++, calendarItem(live)));
      std::int64_t at = db.pageOffset(page) + 300;
      for (int k = 0; k < 1 + page % 4; ++k) {
        EventValues v;
        v.title = "Event " + std::to_string(random() % 100000);
        if (random() % 3 == 0) v.note = std::string(random() % 200, 'n');
        const auto cell = freedCell(encodeCell(rowid++, calendarItem(v)));
        db.put(at, cell);
        at += static_cast<std::int64_t>(cell.size()) + 30;
      }
    }
    const CarveDatabase file = CarveDatabase::fromImage(DatabaseImage(db.bytes()));
    const std::thread::id caller = std::this_thread::get_id();
    bool postedElsewhere = false;
    auto lines = [&](bool oneCarver) {
      std::vector<std::string> out;
      const std::int64_t carved = carveDeletedCalendarEvents(
          file, writeAhead, true,
          [&](std::shared_ptr<MzCalenderNode> e) {
            if (std::this_thread::get_id() != caller) postedElsewhere = true;
            out.push_back(e->calTitle + "|" + e->location + "|" + e->calNote + "|" + e->startDate +
                          "|" + e->endDate);
          },
          oneCarver);
      EXPECT_EQ(carved, static_cast<std::int64_t>(out.size()));
      return out;
    };
    const std::vector<std::string> one = lines(true);
    EXPECT_GT(one.size(), 1000u) << writeAhead;
    for (int round = 0; round < 3; ++round) EXPECT_EQ(lines(false), one) << writeAhead << round;
    EXPECT_FALSE(postedElsewhere);
  }
}

TEST(DeletedCalendarStep, MissingDatabaseLogsAndUnchangedEvidence) {
  TempDir empty;
  StepHarness missing(empty.path());
  int posted = 0;
  missing.center.addObserver("scanDelCalenderInfo", [&](const std::any&) { ++posted; });
  missing.center.addObserver("ScanProgressInfo", [&](const std::any&) { ++posted; });
  missing.run(ScanDelCalenderThread, true);
  EXPECT_EQ(missing.logged, std::vector<std::string>{"NoteDB is not exist"});
  EXPECT_EQ(posted, 0);

  ScopedEnv tz("TZ", "UTC");
  TempDir root;
  const nlohmann::json description = {{"generation", 6},
                                      {"events",
                                       {{{"summary", "Dentist"},
                                         {"start", "2013-06-11T08:30:00Z"},
                                         {"end", "2013-06-11T09:15:00Z"}},
                                        {{"summary", "Team offsite"},
                                         {"location", "Vaxholm"},
                                         {"description", "Boat from Strömkajen 08:10"},
                                         {"start", "2013-06-13T07:00:00Z"},
                                         {"end", "2013-06-13T15:00:00Z"},
                                         {"deleted", true}}}}};
  const std::string folder = root.sub("backup");
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(description, folder, {}, nullptr, &error)) << error;
  const auto before = folderFingerprint(folder);
  StepHarness step(folder);
  step.readIndex();
  std::vector<std::shared_ptr<MzCalenderNode>> events;
  std::vector<std::int32_t> progress;
  step.center.addObserver("scanDelCalenderInfo", [&](const std::any& o) {
    events.push_back(std::any_cast<std::shared_ptr<MzCalenderNode>>(o));
    EXPECT_TRUE(progress.empty());
  });
  step.center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    progress.push_back(std::any_cast<std::int32_t>(o));
  });
  step.run(ScanDelCalenderThread, true);
  EXPECT_EQ(progress, std::vector<std::int32_t>{100});
  std::shared_ptr<MzCalenderNode> e = withTitle(events, "Team offsite");
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->startDate, "06-13-2013 07:00");
  EXPECT_EQ(e->endDate, "06-13-2013 15:00");
  EXPECT_EQ(e->calNote, "Boat from Strömkajen 08:10");
  EXPECT_EQ(folderFingerprint(folder), before);
}

}  // namespace
