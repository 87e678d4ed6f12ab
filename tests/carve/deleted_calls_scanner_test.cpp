#include "carve/deleted_calls_scanner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/carve_steps.h"
#include "backup_builder.h"
#include "base/conversions.h"
#include "calendar_calls_volume.h"
#include "carve/carve_primitives.h"
#include "carve/deleted_calendar_scanner.h"
#include "catalogue/stored_file.h"
#include "extract/calls_scanner.h"
#include "extract/device_databases.h"
#include "support/folder_hash.h"
#include "support/run_command.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using fixtures::encodeCell;
using fixtures::freedCell;
using fixtures::HandMadeDatabase;
using fixtures::SqlValue;

constexpr int kPageSize = 4096;
constexpr std::int64_t kDate = 1370251742;  // 2013-06-03T09:29:02Z

struct CallValues {
  std::string address = "+46705551234";
  std::int64_t date = kDate;
  std::int64_t duration = 125;
  std::int64_t flags = 5;
  std::int64_t contactId = -1;
};

// A call row with the first `columns` columns of the table (13 on iOS 5 and 6, 14 on iOS 7,
// 8 to 10 on older devices).
std::vector<SqlValue> callRow(const CallValues& v, std::size_t columns) {
  std::vector<SqlValue> row = {nullptr,         v.address,         v.date,
                               v.duration,      v.flags,           v.contactId,
                               nullptr,         std::string("se"), std::string("01"),
                               std::int64_t{1}, std::int64_t{0},   nullptr,
                               v.address,       std::int64_t{1}};
  row.resize(columns, nullptr);
  return row;
}

std::vector<std::uint8_t> callPage(const std::vector<CallValues>& freed, std::size_t columns,
                                   std::uint8_t kind = 0x0D) {
  HandMadeDatabase db(kPageSize, true, 3);
  CallValues live;
  live.address = "0855532100";
  db.setPage(1, kind, encodeCell(1, callRow(live, columns)));
  std::int64_t at = db.pageOffset(1) + 120;
  std::int64_t rowid = 2;
  for (const CallValues& v : freed) {
    const auto cell = freedCell(encodeCell(rowid++, callRow(v, columns)));
    db.put(at, cell);
    at += static_cast<std::int64_t>(cell.size()) + 30;
  }
  return db.bytes();
}

std::vector<std::shared_ptr<MzCallHistoryNode>> carve(std::vector<std::uint8_t> bytes, bool iOS6,
                                                      const CallNameLookup& names = {}) {
  std::vector<std::shared_ptr<MzCallHistoryNode>> calls;
  const CarveDatabase db = CarveDatabase::fromImage(DatabaseImage(std::move(bytes)));
  carveDeletedCalls(db, iOS6, names,
                    [&](std::shared_ptr<MzCallHistoryNode> c) { calls.push_back(std::move(c)); });
  return calls;
}

std::shared_ptr<MzCallHistoryNode> withPhone(
    const std::vector<std::shared_ptr<MzCallHistoryNode>>& calls, const std::string& phone) {
  for (const auto& c : calls)
    if (c->callPhone == phone) return c;
  return nullptr;
}

TEST(DeletedCallProbes, FieldCountFromTheHeaderLengthBeforeTheRowid) {
  // header length 10, rowid serial type 0: count 9.
  const DatabaseImage file(
      {0x33, 0x05, 0x0A, 0x00, 0x17, 0x04, 0x08, 0x00, 0x09, 0x00, 0x0C, 0x00, 0x07, 0x00, 0x11});
  EXPECT_EQ(accquireFieldLength(file, 3), 9);
  EXPECT_EQ(accquireFieldLength(file, 6), 9);   // nearest 0x00 at or before is offset 3
  EXPECT_EQ(accquireFieldLength(file, 7), 7);   // c = 8
  EXPECT_EQ(accquireFieldLength(file, 9), 8);   // c = 9
  EXPECT_EQ(accquireFieldLength(file, 11), 0);  // c = 12
  EXPECT_EQ(accquireFieldLength(file, 13), 7);  // c = 7
  EXPECT_EQ(accquireFieldLength(file, 1), 0);   // before the file reads as 0x00
  EXPECT_TRUE(accquireField(file, 14));
  EXPECT_FALSE(accquireField(file, 13));
}

TEST(DeletedCalls, DurationsAndTypes) {
  ScopedEnv tz("TZ", "UTC");
  const std::vector<CallValues> freed = {
      {"+46705557710", kDate, 0, 5, -1},       // outgoing, never answered
      {"+46735559876", kDate + 60, 0, 4, -1},  // incoming, missed
      {"+46765554421", kDate + 120, 125, 4, 3},
      {"0771567567", kDate + 180, 1, 5, -1},  // one second: serial type 9, no body
      {"+46855590912", kDate + 240, 3725, 5, -1},
      {"112", kDate + 300, 7300, 4, -1},
      {"", kDate + 360, 40, 4, -1},    // no number: the results would reject it as empty
      {"7", kDate + 420, 40, 4, -1}};  // too short to be named, still filed
  const auto calls = carve(callPage(freed, 13), true, [](const std::string& phone) {
    return phone == "+46765554421" ? std::optional<std::string>("Maria Nilsson") : std::nullopt;
  });
  std::shared_ptr<MzCallHistoryNode> c = withPhone(calls, "+46705557710");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callType, "Outgoing");
  EXPECT_EQ(c->callTime, 0);
  EXPECT_EQ(c->callDuration, "Cancelled");
  EXPECT_EQ(c->callDate, "06-03-2013 09:29");
  c = withPhone(calls, "+46735559876");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callType, "Incoming");
  EXPECT_EQ(c->callDuration, "Missed");
  c = withPhone(calls, "+46765554421");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callTime, 125);
  EXPECT_EQ(c->callDuration, "2 minutes");
  EXPECT_EQ(c->callName, std::optional<std::string>("Maria Nilsson"));
  EXPECT_EQ(c->callDate, "06-03-2013 09:31");
  c = withPhone(calls, "0771567567");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callTime, 1);
  EXPECT_EQ(c->callDuration, "1 second");
  c = withPhone(calls, "+46855590912");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callDuration, "1 hour");
  c = withPhone(calls, "112");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callDuration, "2 hours");
  EXPECT_EQ(c->callName, std::nullopt);
  c = withPhone(calls, "7");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callName, std::optional<std::string>(""));
  EXPECT_EQ(c->callDuration, "40 seconds");
  for (const auto& call : calls) EXPECT_FALSE(call->callPhone.empty()) << call->callDate;
}

TEST(DeletedCalls, OlderBackupsTakeTheFieldCountPerPage) {
  ScopedEnv tz("TZ", "UTC");
  const CallValues v{"+46701119988", kDate, 61, 4, -1};
  // Header length 10 in the page's first cell: count 9 for every record of the page, even
  // those whose own header length the freeblock overwrote.
  const auto nine = carve(callPage({v, {"0701234567", kDate, 300, 5, -1}}, 9), false);
  std::shared_ptr<MzCallHistoryNode> c = withPhone(nine, "+46701119988");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callTime, 61);
  EXPECT_EQ(c->callDate, "06-03-2013 09:29");
  ASSERT_NE(withPhone(nine, "0701234567"), nullptr);
  EXPECT_EQ(withPhone(nine, "0701234567")->callDuration, "5 minutes");
  // Eight columns (header length 9): count 8.
  c = withPhone(carve(callPage({v}, 8), false), "+46701119988");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callTime, 61);
  // On iOS 6 the count is 13 whatever the page says, so a 9-column record is misread.
  EXPECT_EQ(withPhone(carve(callPage({v}, 9), true), "+46701119988"), nullptr);
  // A 13-column first cell gives no count from its header length (14 lies outside 8..12),
  // so the live cell's own width is used.
  c = withPhone(carve(callPage({v}, 13), false), "+46701119988");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callTime, 61);
  // With the live cell unreadable as well, a record falls back to 9 when the byte at
  // i + 4 (header position 8) is 0x11, else 8: right for a 9-column record whose column 8
  // holds a two-letter text, wrong for a 13-column one.
  for (std::size_t columns : {std::size_t{9}, std::size_t{13}}) {
    auto bytes = callPage({v}, columns);
    const std::int64_t live = kPageSize + (bytes[kPageSize + 8] << 8) + bytes[kPageSize + 9];
    bytes[live + 2] = 0x7F;  // header length
    bytes[live + 3] = 0x05;  // not the rowid's 0x00, so no count from before it either
    ASSERT_EQ(cellColumnCount(DatabaseImage(bytes), live), 0);
    const auto calls = carve(bytes, false);
    c = withPhone(calls, "+46701119988");
    if (columns == 9) {
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->callTime, 61);
    } else {
      EXPECT_EQ(c, nullptr);
    }
  }
}

// A file of many pages is carved by two threads taking runs of pages: the records, their names
// and their order are those of one carver, whichever pages each thread happened to take,
// with the second carver naming its records or leaving them to the caller's lookup. Records
// are posted on the caller's thread, and each lookup is asked on its own thread only.
TEST(DeletedCalls, TwoCarversGiveWhatOneGives) {
  ScopedEnv tz("TZ", "Europe/Stockholm");
  constexpr int kPages = 700;
  HandMadeDatabase db(kPageSize, true, kPages);
  std::mt19937 random(5);
  std::int64_t rowid = 1;
  for (int page = 1; page < kPages; ++page) {
    CallValues live;
    live.address = "08555" + std::to_string(10000 + page);
    db.setPage(page, page % 7 == 0 ? 0x0A : 0x0D, encodeCell(rowid++, callRow(live, 13)));
    std::int64_t at = db.pageOffset(page) + 100;
    for (int k = 0; k < 1 + page % 5; ++k) {
      CallValues v;
      v.address = "+4670" + std::to_string(random() % 10000000);
      v.date = kDate + static_cast<std::int64_t>(random() % 400000000);
      v.duration = static_cast<std::int64_t>(random() % 9000);
      v.flags = random() % 2 == 0 ? 4 : 5;
      const auto cell = freedCell(encodeCell(rowid++, callRow(v, 13)));
      db.put(at, cell);
      at += static_cast<std::int64_t>(cell.size()) + 20;
    }
  }
  const CarveDatabase file = CarveDatabase::fromImage(DatabaseImage(db.bytes()));
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> callerAskedElsewhere{false}, secondAskedHere{false}, postedElsewhere{false};
  auto nameOfPhone = [](const std::string& phone) -> std::optional<std::string> {
    if (phone.back() == '7') return std::nullopt;
    return "Name " + phone.substr(phone.size() - 2);
  };
  const CallNameLookup names = [&](const std::string& phone) {
    if (std::this_thread::get_id() != caller) callerAskedElsewhere = true;
    return nameOfPhone(phone);
  };
  CallCarvers withSecondNames;
  withSecondNames.secondNameOf = [&](const std::string& phone) {
    if (std::this_thread::get_id() == caller) secondAskedHere = true;
    return nameOfPhone(phone);
  };
  CallCarvers alone;
  alone.one = true;
  auto lines = [&](const CallCarvers& carvers) {
    std::vector<std::string> out;
    const std::int64_t carved = carveDeletedCalls(
        file, true, names,
        [&](std::shared_ptr<MzCallHistoryNode> c) {
          if (std::this_thread::get_id() != caller) postedElsewhere = true;
          out.push_back(c->callPhone + "|" + c->callDate + "|" + std::to_string(c->callTime) + "|" +
                        c->callType + "|" + c->callDuration + "|" +
                        (c->callName ? "=" + *c->callName : "none"));
        },
        carvers);
    EXPECT_EQ(carved, static_cast<std::int64_t>(out.size()));
    return out;
  };
  const std::vector<std::string> one = lines(alone);
  EXPECT_GT(one.size(), 2000u);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(lines(CallCarvers{}), one) << round;
    EXPECT_EQ(lines(withSecondNames), one) << round;
  }
  EXPECT_FALSE(callerAskedElsewhere);
  EXPECT_FALSE(secondAskedHere);
  EXPECT_FALSE(postedElsewhere);
}

TEST(DeletedCalls, IOS7CallsAreReadWithTheirFourteenColumns) {
  ScopedEnv tz("TZ", "UTC");
  const CallValues v{"+46735550042", kDate, 754, 5, 2};
  std::shared_ptr<MzCallHistoryNode> c = withPhone(carve(callPage({v}, 14), true), "+46735550042");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callDuration, "12 minutes");
  EXPECT_EQ(c->callDate, "06-03-2013 09:29");
}

TEST(DeletedCalls, IndexLeafPagesAreCarvedInteriorPagesAreNot) {
  const CallValues v{"+46705550123", kDate, 42, 5, -1};
  EXPECT_NE(withPhone(carve(callPage({v}, 13, 0x0A), true), "+46705550123"), nullptr);
  EXPECT_TRUE(carve(callPage({v}, 13, 0x05), true).empty());
  EXPECT_TRUE(carve(callPage({v}, 13, 0x02), true).empty());
}

TEST(DeletedCallsStep, LogsWhenMissingAndPostsBeforeProgress) {
  TempDir empty;
  StepHarness missing(empty.path());
  int posted = 0;
  missing.center.addObserver("ScanDelCallHistoryInfo", [&](const std::any&) { ++posted; });
  missing.center.addObserver("ScanProgressInfo", [&](const std::any&) { ++posted; });
  missing.run(scanDelCallHistoryThread, true);
  EXPECT_EQ(missing.logged, std::vector<std::string>{"messageDB is not exist"});
  EXPECT_EQ(posted, 0);

  ScopedEnv tz("TZ", "UTC");
  TempDir root;
  const nlohmann::json description = {
      {"generation", 6},
      {"contacts",
       {{{"first", "Anna"},
         {"last", "Berg"},
         {"phones", {{{"label", "mobile"}, {"value", "+46 70 555 77 10"}}}}}}},
      {"calls",
       {{{"address", "+46705551234"}, {"date", "2013-05-27T17:40:12Z"}, {"duration", 125}},
        {{"address", "+46705557710"},
         {"date", "2013-06-01T21:22:18Z"},
         {"duration", 48},
         {"direction", "outgoing"},
         {"deleted", true}}}}};
  const std::string folder = root.sub("backup");
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(description, folder, {}, nullptr, &error)) << error;
  const auto before = folderFingerprint(folder);
  StepHarness step(folder);
  step.readIndex();
  step.readContacts();
  std::vector<std::shared_ptr<MzCallHistoryNode>> calls;
  std::vector<std::int32_t> progress;
  step.center.addObserver("ScanDelCallHistoryInfo", [&](const std::any& o) {
    calls.push_back(std::any_cast<std::shared_ptr<MzCallHistoryNode>>(o));
    EXPECT_TRUE(progress.empty());
  });
  step.center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    progress.push_back(std::any_cast<std::int32_t>(o));
  });
  step.run(scanDelCallHistoryThread, true);
  EXPECT_EQ(progress, std::vector<std::int32_t>{90});
  std::shared_ptr<MzCallHistoryNode> c = withPhone(calls, "+46705557710");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->callDate, "06-01-2013 21:22");
  EXPECT_EQ(c->callDuration, "48 seconds");
  EXPECT_EQ(c->callType, "Outgoing");
  EXPECT_EQ(c->callName, std::optional<std::string>("Anna Berg"));
  // The call says where in the private copy its signature matched: the page that holds the
  // offset, and the call's number in that page after it.
  EXPECT_EQ(c->origin.kind, RecordOrigin::Kind::Carved);
  EXPECT_EQ(c->origin.file, "call_history.db");
  EXPECT_EQ(c->origin.place, RecordOrigin::Place::RecordSignature);
  const auto copy = step.databases.preparedCopy(storedFilePath(folder, devicedb::kCallsKey));
  ASSERT_TRUE(copy);
  const std::string bytes = slurp(*copy);
  ASSERT_GT(bytes.size(), 18u);
  const std::int64_t pageSize =
      (static_cast<unsigned char>(bytes[16]) << 8) | static_cast<unsigned char>(bytes[17]);
  EXPECT_EQ(c->origin.page, c->origin.offset / pageSize + 1);
  const auto number = bytes.find("+46705557710", static_cast<std::size_t>(c->origin.offset));
  ASSERT_NE(number, std::string::npos);
  EXPECT_LT(static_cast<std::int64_t>(number), c->origin.page * pageSize);
  EXPECT_EQ(folderFingerprint(folder), before);
}

}  // namespace

namespace {

TEST(DeletedCalendarCallsInput, DegenerateFilesCarveNothingAndEnd) {
  const CallValues v{"+46705550123", kDate, 42, 5, -1};
  const std::vector<std::uint8_t> good = callPage({v}, 13);
  std::vector<std::vector<std::uint8_t>> files;
  files.push_back({});                                               // empty
  files.emplace_back(good.begin(), good.begin() + kPageSize + 700);  // cut inside a page
  for (std::uint8_t size : {0, 1}) {  // page size 0 (no pages) and 1 (65536: no whole page)
    auto bytes = good;
    bytes[16] = 0;
    bytes[17] = size;
    files.push_back(bytes);
  }
  auto pastPage = good;  // first cell pointer past the page and the file
  pastPage[kPageSize + 8] = 0xFF;
  pastPage[kPageSize + 9] = 0xFF;
  files.push_back(pastPage);
  files.emplace_back(good.begin(), good.begin() + kPageSize);  // one page: the header page
  for (const auto& bytes : files) {
    EXPECT_TRUE(carve(bytes, true).empty());
    const CarveDatabase db = CarveDatabase::fromImage(DatabaseImage(bytes));
    EXPECT_EQ(carveDeletedCalendarEvents(db, true, true, [](auto) {}), 0);
    EXPECT_EQ(carveDeletedCalendarEvents(db, false, false, [](auto) {}), 0);
  }
  // A page size of 2 makes every two bytes a page: the walk still ends.
  auto tiny = good;
  tiny[16] = 0;
  tiny[17] = 2;
  carve(tiny, false);
}

}  // namespace

namespace {

// The carvers' own duration texts must be the conversions' texts, value for value.
TEST(CarveConversions, DurationTextsAreTheConversionsOwn) {
  std::mt19937_64 random(7);
  std::vector<std::int32_t> seconds = {INT32_MIN, -1, INT32_MAX};
  for (std::int32_t s = 0; s < 20000; ++s) seconds.push_back(s);
  for (int i = 0; i < 2000; ++i) seconds.push_back(static_cast<std::int32_t>(random()));
  for (const std::int32_t s : seconds) {
    ASSERT_EQ(carve::callDurationText(s), getCallHistoryDuration(s)) << s;
  }
}

// The record reader gives what the field readers give into a field buffer, read after read
// (so the data offset moves alike), on random bytes and offsets before, inside and past the
// file.
TEST(CarveConversions, RecordReaderReadsAsTheFieldReaders) {
  std::mt19937_64 random(11);
  for (int round = 0; round < 400; ++round) {
    std::vector<std::uint8_t> bytes(40 + random() % 300);
    for (auto& b : bytes) {
      const unsigned r = random() % 8;
      b = r < 2 ? 0 : r < 4 ? static_cast<std::uint8_t>(random() % 14) : random() % 256;
    }
    const DatabaseImage file(bytes);
    const std::size_t capacity = 2 + random() % 40;
    const std::int64_t typeBase = static_cast<std::int64_t>(random() % (bytes.size() + 20)) - 10;
    const std::int64_t count = static_cast<std::int64_t>(random() % 30);
    carve::RecordReader reader(file, typeBase, typeBase + count, capacity);
    carve::FieldBuffer buffer(capacity);
    std::int64_t dataOffset = 0;
    for (std::int64_t position = 1; position <= 8; ++position) {
      const bool two = random() % 3 == 0;
      const carve::RecordField field = two ? reader.twoByte(position) : reader.oneByte(position);
      if (two) {
        carve::AnalyseAlterbleDB(file, position, dataOffset, typeBase, count, buffer);
      } else {
        carve::AnalyseDBDataFile(file, position, dataOffset, typeBase, count, buffer);
      }
      const std::string text(buffer.text());
      ASSERT_EQ(field.empty(), buffer.empty()) << round << " " << position;
      ASSERT_EQ(field.text(), GetStringFormChar(buffer.text())) << round << " " << position;
      ASSERT_EQ(field.number(), std::strtoll(text.c_str(), nullptr, 10)) << round;
    }
  }
}

}  // namespace
