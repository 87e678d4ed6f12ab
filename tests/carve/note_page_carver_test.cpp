#include "carve/note_page_carver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "carve/deleted_note_join.h"
#include "notes_volume.h"
#include "support/note_rows.h"
#include "support/temp_dir.h"

namespace {

using fixtures::encodeRecord;
using fixtures::PageImage;
using fixtures::SqlValue;
using note_rows::bodyRow;
using note_rows::noteRow;
using note_rows::noteRowOfIOS7;
using note_rows::placeRecords;

constexpr int kPageSize = 1024;

struct Carved {
  RecordList<MzNoteNode> notes;
  RecordList<MzNoteValueNode> bodies;
};

Carved carve(PageImage& image, bool writeAhead, bool iOS7) {
  Carved c;
  const auto db = CarveDatabase::fromImage(DatabaseImage(image.bytes()));
  carveDeletedNotePages(db, writeAhead, iOS7, c.notes, c.bodies);
  return c;
}

TEST(DeletedNotesCarving, NoteAndBodyRecordsOfTheWriteAheadLayoutBeforeIOS7) {
  ScopedEnv tz("TZ", "UTC");
  PageImage image(kPageSize, 3, true);
  // 2013-03-29 10:30:44.25 as Core Data writes it: a real with a fraction of a second.
  const double modified = 386245844.25;
  const std::string longBody =
      "Packing list<div>Ferry tickets (12 July, 10:35 Nynäshamn)</div><div>Swimsuit</div>";
  placeRecords(image, 1, 200,
               {noteRow(5, modified, "Packing list", "Ferry tickets"), bodyRow(5, longBody),
                bodyRow(6, "Door code<div>1947</div>")});
  Carved c = carve(image, true, false);
  ASSERT_EQ(c.notes.size(), 1u);
  EXPECT_EQ(c.notes[0]->uid, 5);
  EXPECT_EQ(c.notes[0]->noteTitle, "Packing list");
  EXPECT_EQ(c.notes[0]->noteDate, "03-29-2013 10:30");
  ASSERT_EQ(c.bodies.size(), 2u);
  EXPECT_EQ(c.bodies[0]->uid, 5);
  EXPECT_EQ(c.bodies[0]->noteValue, longBody);  // a two-byte serial type (58 bytes or more)
  EXPECT_EQ(c.bodies[1]->uid, 6);
  EXPECT_EQ(c.bodies[1]->noteValue, "Door code<div>1947</div>");

  // A whole-second date is stored as an integer and reads the same way.
  PageImage whole(kPageSize, 2, true);
  placeRecords(whole, 1, 300, {noteRow(7, std::int64_t{386245844}, "Books", "")});
  c = carve(whole, true, false);
  ASSERT_EQ(c.notes.size(), 1u);
  EXPECT_EQ(c.notes[0]->noteDate, "03-29-2013 10:30");
  EXPECT_EQ(c.notes[0]->noteTitle, "Books");
}

// A file of many pages is carved by two threads; the lists must be what one carver fills,
// in the same order, in each of the layouts.
TEST(DeletedNotesCarving, TwoCarversGiveWhatOneGives) {
  ScopedEnv tz("TZ", "Europe/Stockholm");
  constexpr int kPages = 700;
  for (const bool writeAhead : {true, false}) {
    PageImage image(kPageSize, kPages, writeAhead);
    for (int page = 1; page < kPages; ++page) {
      const std::int64_t id = page * 3;
      const double modified = 386245844.25 + page * 7200.5;
      placeRecords(image, page, 100 + page % 50,
                   {noteRow(id, modified, "Note " + std::to_string(id), "summary"),
                    bodyRow(id, "Body " + std::to_string(id) + "<div>line</div>"),
                    bodyRow(id + 1, std::string(static_cast<std::size_t>(page % 90), 'x'))});
    }
    const auto db = CarveDatabase::fromImage(DatabaseImage(image.bytes()));
    auto lines = [&](bool iOS7, bool oneCarver) {
      Carved c;
      carveDeletedNotePages(db, writeAhead, iOS7, c.notes, c.bodies, oneCarver);
      std::vector<std::string> out;
      for (const auto& n : c.notes)
        out.push_back(std::to_string(n->uid) + n->noteTitle + n->noteDate);
      for (const auto& b : c.bodies) out.push_back(std::to_string(b->uid) + "|" + b->noteValue);
      return out;
    };
    for (const bool iOS7 : {false, true}) {
      const std::vector<std::string> one = lines(iOS7, true);
      EXPECT_GT(one.size(), 1000u) << writeAhead << iOS7;
      for (int round = 0; round < 2; ++round) EXPECT_EQ(lines(iOS7, false), one) << round;
    }
  }
}

TEST(DeletedNotesCarving, IOS7LayoutTakesShortAndLongTitles) {
  PageImage image(kPageSize, 2, true);
  const std::string longTitle = "Notes from the parents' evening at school on Thursday 6 June";
  const std::string longSummary(70, 's');
  placeRecords(image, 1, 100,
               {noteRowOfIOS7(11, std::int64_t{386245844}, "Garden", "Roses"),
                noteRowOfIOS7(12, std::int64_t{386245844}, longTitle, "short"),
                noteRowOfIOS7(13, std::int64_t{386245844}, "Tax return", longSummary)});
  Carved c = carve(image, true, true);
  ASSERT_EQ(c.notes.size(), 3u);
  EXPECT_EQ(c.notes[0]->uid, 11);
  EXPECT_EQ(c.notes[0]->noteTitle, "Garden");
  EXPECT_EQ(c.notes[1]->uid, 12);
  EXPECT_EQ(c.notes[1]->noteTitle, longTitle);
  EXPECT_EQ(c.notes[2]->uid, 13);
  EXPECT_EQ(c.notes[2]->noteTitle, "Tax return");
  // The layout before iOS 7 does not see these records.
  EXPECT_TRUE(carve(image, true, false).notes.empty());
}

TEST(DeletedNotesCarving, RollbackLayoutAndPagesThatAreNotNotes) {
  PageImage image(kPageSize, 4, false);
  placeRecords(image, 1, 150, {noteRow(21, std::int64_t{386245844}, "Wine we liked", "")});
  // Page 2: a first cell of another table (no run of three 0x01 bytes) hides a note record.
  placeRecords(image, 2, 400, {{nullptr, std::string("com.apple.notes"), std::int64_t{7}}});
  image.put(image.pageOffset(2) + 500, encodeRecord(noteRow(22, std::int64_t{1}, "Hidden", "")));
  // Page 3 is an index page.
  image.setPageKind(3, 0x0A);
  image.put(image.pageOffset(3) + 200, encodeRecord(bodyRow(23, "never carved")));
  Carved c = carve(image, false, false);
  ASSERT_EQ(c.notes.size(), 1u);
  EXPECT_EQ(c.notes[0]->uid, 21);
  EXPECT_EQ(c.notes[0]->noteTitle, "Wine we liked");
  EXPECT_TRUE(c.bodies.empty());

  // Schema format 4 writes the zeros and ones without a body: no run of 0x01 bytes is left,
  // and a file whose header does not give format 4 is not searched for that form.
  PageImage format4(kPageSize, 2, true);
  placeRecords(format4, 1, 150,
               {noteRow(5, std::int64_t{386245844}, "Books", ""),
                bodyRow(5, "Books<div>Let the Right One In</div>")},
               true);
  c = carve(format4, true, false);
  EXPECT_TRUE(c.notes.empty());
  EXPECT_TRUE(c.bodies.empty());
}

// The header's schema format number (offset 44).
void setSchemaFormat(PageImage& image, std::uint8_t format) { image.bytes()[47] = format; }

// The records carved from `rows` placed in a page of a file of schema format `format`, each
// row written as that format writes it (`format4Rows`).
Carved carveInFormat(const std::vector<std::vector<SqlValue>>& rows, std::uint8_t format,
                     bool format4Rows, bool writeAhead, bool iOS7) {
  PageImage image(kPageSize, 2, writeAhead);
  setSchemaFormat(image, format);
  placeRecords(image, 1, 120, rows, format4Rows);
  return carve(image, writeAhead, iOS7);
}

void expectSameRecords(const Carved& format1, const Carved& format4) {
  ASSERT_EQ(format1.notes.size(), format4.notes.size());
  for (std::size_t k = 0; k < format1.notes.size(); ++k) {
    EXPECT_EQ(format1.notes[k]->uid, format4.notes[k]->uid) << k;
    EXPECT_EQ(format1.notes[k]->noteTitle, format4.notes[k]->noteTitle) << k;
    EXPECT_EQ(format1.notes[k]->noteDate, format4.notes[k]->noteDate) << k;
  }
  ASSERT_EQ(format1.bodies.size(), format4.bodies.size());
  for (std::size_t k = 0; k < format1.bodies.size(); ++k) {
    EXPECT_EQ(format1.bodies[k]->uid, format4.bodies[k]->uid) << k;
    EXPECT_EQ(format1.bodies[k]->noteValue, format4.bodies[k]->noteValue) << k;
  }
}

TEST(DeletedNotesSchemaFormat4, BodilessZerosAndOnesReadAsTheirFormat1Twins) {
  ScopedEnv tz("TZ", "UTC");
  const std::string longBody =
      "Packing list<div>Ferry tickets (12 July, 10:35 Nynäshamn)</div><div>Swimsuit</div>";
  // Body 1 and a Z_OPT and flag of 1: each a bodiless type 9 in format 4, the other zeros 8.
  auto withOnes = [](std::vector<SqlValue> row) {
    row[2] = std::int64_t{1};  // Z_OPT
    row[5] = std::int64_t{1};  // ZDELETEDFLAG
    return row;
  };
  struct Layout {
    bool writeAhead;
    bool iOS7;
    std::vector<std::vector<SqlValue>> rows;
  };
  const std::vector<Layout> layouts = {
      {true,
       false,
       {withOnes(noteRow(1, 386245844.25, "Packing list", "Ferry tickets")),
        noteRow(9, std::int64_t{386245844}, "Books", ""), bodyRow(1, longBody),
        bodyRow(9, "Door code<div>1947</div>")}},
      {true,
       true,
       {withOnes(noteRowOfIOS7(1, 386245844.25, "Garden", "Roses")),
        noteRowOfIOS7(12, std::int64_t{386245844}, std::string(60, 't'), "short"),
        bodyRow(1, "Garden<div>Roses</div>")}},
      {false,
       false,
       {withOnes(noteRow(1, std::int64_t{386245844}, "Wine we liked", "")), bodyRow(1, longBody)}},
  };
  for (const Layout& layout : layouts) {
    SCOPED_TRACE(testing::Message()
                 << "write-ahead " << layout.writeAhead << ", iOS 7 " << layout.iOS7);
    const Carved format1 = carveInFormat(layout.rows, 1, false, layout.writeAhead, layout.iOS7);
    const Carved format4 = carveInFormat(layout.rows, 4, true, layout.writeAhead, layout.iOS7);
    ASSERT_FALSE(format1.notes.empty());
    ASSERT_FALSE(format1.bodies.empty());
    expectSameRecords(format1, format4);
    // The id 1 is the bodiless type 9 in format 4, and the bodies after it are not shifted.
    EXPECT_EQ(format4.notes[0]->uid, 1);
    EXPECT_EQ(format4.bodies[0]->uid, 1);
    EXPECT_FALSE(format4.notes[0]->noteTitle.empty());
    EXPECT_FALSE(format4.notes[0]->noteDate.empty());
    // A store whose records were written before its format was raised to 4 keeps format 1
    // records: those are carved as before.
    expectSameRecords(format1,
                      carveInFormat(layout.rows, 4, false, layout.writeAhead, layout.iOS7));
    // In a file of format 1 the bodiless types never occur, so that form is not looked for.
    const Carved unlooked = carveInFormat(layout.rows, 1, true, layout.writeAhead, layout.iOS7);
    EXPECT_TRUE(unlooked.notes.empty());
    EXPECT_TRUE(unlooked.bodies.empty());
  }
  const Carved iOS7 = carveInFormat(layouts[1].rows, 4, true, true, true);
  ASSERT_EQ(iOS7.notes.size(), 2u);
  EXPECT_EQ(iOS7.notes[1]->noteTitle, std::string(60, 't'));  // a two-byte title type
  EXPECT_EQ(carveInFormat(layouts[0].rows, 4, true, true, false).bodies[0]->noteValue, longBody);
}

TEST(DeletedNotesCarving, OwnerIdsFrom128OnAreTwoByteIntegers) {
  // From the 128th note on, the body's owner id (and the note's ids) are two-byte integers
  // (serial type 2). A page whose first cell is such a body is searched, the body is read
  // past the owner's two body bytes and the note after it is read from the right offsets.
  ScopedEnv tz("TZ", "UTC");
  struct Layout {
    bool writeAhead;
    bool iOS7;
  };
  for (const Layout layout : {Layout{true, false}, Layout{true, true}, Layout{false, false}}) {
    for (const std::uint8_t format : {std::uint8_t{1}, std::uint8_t{4}}) {
      SCOPED_TRACE(testing::Message() << "write-ahead " << layout.writeAhead << ", iOS 7 "
                                      << layout.iOS7 << ", format " << int{format});
      PageImage image(kPageSize, 3, layout.writeAhead);
      setSchemaFormat(image, format);
      const auto row = layout.iOS7 ? noteRowOfIOS7 : noteRow;
      placeRecords(image, 1, 150, {row(300, std::int64_t{386245844}, "Tax return", "Receipts")},
                   format == 4);
      placeRecords(image, 2, 120,
                   {bodyRow(300, "Tax return<div>Receipts</div>"), bodyRow(127, "Milk"),
                    bodyRow(32767, "Ferry tickets")},
                   format == 4);
      Carved c = carve(image, layout.writeAhead, layout.iOS7);
      ASSERT_EQ(c.notes.size(), 1u);
      EXPECT_EQ(c.notes[0]->uid, 300);
      ASSERT_EQ(c.bodies.size(), 3u);
      EXPECT_EQ(c.bodies[0]->uid, 300);
      EXPECT_EQ(c.bodies[0]->noteValue, "Tax return<div>Receipts</div>");
      EXPECT_EQ(c.bodies[1]->uid, 127);  // the last one-byte id
      EXPECT_EQ(c.bodies[1]->noteValue, "Milk");
      EXPECT_EQ(c.bodies[2]->uid, 32767);  // the last two-byte id
      EXPECT_EQ(c.bodies[2]->noteValue, "Ferry tickets");
      const auto posted = assembleDeletedNotes(c.notes, c.bodies);
      ASSERT_EQ(posted.size(), 3u);
      EXPECT_EQ(posted[0]->noteTitle, "Tax return");
      EXPECT_EQ(posted[0]->noteDate, "03-29-2013 10:30");
      EXPECT_EQ(posted[0]->noteContent, "Tax return\nReceipts");
      EXPECT_TRUE(posted[1]->noteTitle.empty());
    }
  }
  // Between one-byte ids a three-byte one (serial type 3) is read past its three body
  // bytes, and the bodies after it are read from the right offsets.
  PageImage wide(kPageSize, 2, true);
  placeRecords(wide, 1, 120, {bodyRow(3, "Eggs"), bodyRow(40000, "Milk"), bodyRow(4, "Bread")});
  const Carved c = carve(wide, true, false);
  ASSERT_EQ(c.bodies.size(), 3u);
  EXPECT_EQ(c.bodies[0]->uid, 3);
  EXPECT_EQ(c.bodies[1]->uid, 40000);
  EXPECT_EQ(c.bodies[1]->noteValue, "Milk");
  EXPECT_EQ(c.bodies[2]->uid, 4);
  EXPECT_EQ(c.bodies[2]->noteValue, "Bread");
}

// A table leaf cell as SQLite writes it: the payload length and rowid varints, then the
// record.
std::vector<std::uint8_t> cellOf(std::int64_t rowid, const std::vector<std::uint8_t>& record) {
  std::vector<std::uint8_t> cell;
  fixtures::putVarint(cell, record.size());
  fixtures::putVarint(cell, static_cast<std::uint64_t>(rowid));
  cell.insert(cell.end(), record.begin(), record.end());
  return cell;
}

// The cell as a delete leaves it in a freeblock: its first four bytes become the next
// freeblock's offset (none) and the block's size.
std::vector<std::uint8_t> freed(std::vector<std::uint8_t> cell) {
  cell[0] = 0;
  cell[1] = 0;
  cell[2] = static_cast<std::uint8_t>(cell.size() >> 8);
  cell[3] = static_cast<std::uint8_t>(cell.size());
  return cell;
}

// The ZNOTEBODY record of `owner` with its three-byte owner body replaced by `ownerBody`:
// values SQLite never writes as serial type 3.
std::vector<std::uint8_t> bodyWithThreeByteOwner(std::array<std::uint8_t, 3> ownerBody,
                                                 const std::string& content, bool format4) {
  std::vector<std::uint8_t> record = encodeRecord(bodyRow(40000, content), format4);
  // The header, then Z_ENT's one body byte and Z_OPT's (1: none in format 4).
  const std::size_t at = record[0] + 1 + (format4 ? 0 : 1);
  std::copy(ownerBody.begin(), ownerBody.end(), record.begin() + static_cast<std::ptrdiff_t>(at));
  return record;
}

TEST(DeletedNotesCarving, OwnerIdsFrom32768OnAreThreeByteIntegers) {
  // From the 32768th note on the body's owner id (and the note's ids) are three-byte
  // integers (serial type 3). The body page is laid out as the store has it: its first cell,
  // a live body, has a two-byte payload length and a three-byte rowid before its record, and
  // deleted bodies lie in freeblocks after it.
  ScopedEnv tz("TZ", "UTC");
  struct Layout {
    bool writeAhead;
    bool iOS7;
  };
  const std::string longBody =
      "Boat club<div>Dues for the season are due by the end of March</div><div>Bring the "
      "mooring papers and the insurance letter to the meeting</div>";
  const std::string listBody = "Spare parts<div>Impeller, fuel filter and two shackles</div>";
  for (const Layout layout : {Layout{true, false}, Layout{true, true}, Layout{false, false}}) {
    for (const std::uint8_t format : {std::uint8_t{1}, std::uint8_t{4}}) {
      SCOPED_TRACE(testing::Message() << "write-ahead " << layout.writeAhead << ", iOS 7 "
                                      << layout.iOS7 << ", format " << int{format});
      const bool format4 = format == 4;
      PageImage image(kPageSize, 3, layout.writeAhead);
      setSchemaFormat(image, format);
      const auto row = layout.iOS7 ? noteRowOfIOS7 : noteRow;
      placeRecords(image, 1, 150, {row(40000, std::int64_t{386245844}, "Spare parts", "Impeller")},
                   format4);

      const std::int64_t page = image.pageOffset(2);
      const auto live = cellOf(40001, encodeRecord(bodyRow(40001, longBody), format4));
      ASSERT_EQ(live[0] & 0x80, 0x80);  // a two-byte payload length ...
      ASSERT_EQ(live[2] & 0x80, 0x80);  // ... and a three-byte rowid
      image.setFirstCell(2, 100);
      std::int64_t at = image.put(page + 100, live);
      auto deleted = [&](std::int64_t rowid, const std::vector<std::uint8_t>& record) {
        at = image.put(at, freed(cellOf(rowid, record)));
      };
      deleted(32768, encodeRecord(bodyRow(32768, "Mooring<div>Berth 14</div>"), format4));
      deleted(40000, encodeRecord(bodyRow(40000, listBody), format4));  // two-byte text type
      deleted(40002, bodyWithThreeByteOwner({0x00, 0x00, 0x64}, "Not a body (100)", format4));
      deleted(40003, encodeRecord(bodyRow(8388607, "Last id"), format4));
      deleted(40004, bodyWithThreeByteOwner({0xFF, 0xFF, 0xFF}, "Not a body (-1)", format4));
      deleted(40005, encodeRecord(bodyRow(32767, "Two-byte id"), format4));
      deleted(40006, encodeRecord(bodyRow(5, "One-byte id"), format4));

      Carved c = carve(image, layout.writeAhead, layout.iOS7);
      ASSERT_EQ(c.notes.size(), 1u);
      EXPECT_EQ(c.notes[0]->uid, 40000);  // the note's ids are three-byte integers too
      EXPECT_EQ(c.notes[0]->noteTitle, "Spare parts");
      EXPECT_EQ(c.notes[0]->noteDate, "03-29-2013 10:30");
      const std::vector<std::pair<std::int32_t, std::string>> expected = {
          {40001, longBody},      {32768, "Mooring<div>Berth 14</div>"},
          {40000, listBody},      {8388607, "Last id"},
          {32767, "Two-byte id"}, {5, "One-byte id"}};
      ASSERT_EQ(c.bodies.size(), expected.size());
      for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(c.bodies[k]->uid, expected[k].first) << k;
        EXPECT_EQ(c.bodies[k]->noteValue, expected[k].second) << k;
      }
      const auto posted = assembleDeletedNotes(c.notes, c.bodies);
      ASSERT_EQ(posted.size(), expected.size());
      EXPECT_EQ(posted[2]->noteTitle, "Spare parts");
      EXPECT_EQ(posted[2]->noteDate, "03-29-2013 10:30");
      EXPECT_EQ(posted[2]->noteContent, "Spare parts\nImpeller, fuel filter and two shackles");
      EXPECT_TRUE(posted[0]->noteTitle.empty());
    }
  }
}

TEST(DeletedNotesCarving, ALargeOwnerFirstCellIsFoundWhereverItsVarintsEnd) {
  // The first cell's payload length takes one to three bytes and its rowid three, its owner
  // id two bytes (a note from the 16384th on) or three: the page is searched in each case. A
  // page whose first cell is no body is not.
  for (const std::uint8_t format : {std::uint8_t{1}, std::uint8_t{4}}) {
    SCOPED_TRACE(int{format});
    const bool format4 = format == 4;
    for (const std::int64_t owner : {std::int64_t{20000}, std::int64_t{50000}}) {
      for (const std::size_t contentLength : {20u, 300u, 20000u}) {
        PageImage image(kPageSize, 2, true);
        setSchemaFormat(image, format);
        std::vector<std::uint8_t> live =
            cellOf(owner, encodeRecord(bodyRow(owner, std::string(contentLength, 'x')), format4));
        live.resize(std::min<std::size_t>(live.size(), 600));  // the rest would overflow
        image.setFirstCell(1, 100);
        const std::int64_t at = image.put(image.pageOffset(1) + 100, live);
        image.put(at, freed(cellOf(owner + 1,
                                   encodeRecord(bodyRow(owner + 1, "Anchor chain"), format4))));
        const Carved c = carve(image, true, false);
        ASSERT_FALSE(c.bodies.empty()) << owner << " " << contentLength;
        EXPECT_EQ(c.bodies.back()->uid, owner + 1) << contentLength;
        EXPECT_EQ(c.bodies.back()->noteValue, "Anchor chain") << contentLength;
      }
    }
    PageImage other(kPageSize, 2, true);
    setSchemaFormat(other, format);
    other.setFirstCell(1, 100);
    const std::int64_t at = other.put(
        other.pageOffset(1) + 100,
        cellOf(50000, encodeRecord({nullptr, std::string("com.apple.notes"), std::int64_t{7}})));
    other.put(at, freed(cellOf(50001, encodeRecord(bodyRow(50001, "Anchor chain"), format4))));
    EXPECT_TRUE(carve(other, true, false).bodies.empty());
  }
}

TEST(DeletedNotesSchemaFormat4, OnlyIntegerColumnsMayTakeTheBodilessForm) {
  // The entity column of a note (3) is never 0 or 1: a record whose first column is a type 9
  // is not a note, nor a body whose entity is.
  PageImage image(kPageSize, 2, true);
  setSchemaFormat(image, 4);
  std::vector<SqlValue> note = noteRow(5, std::int64_t{386245844}, "Books", "");
  note[1] = std::int64_t{1};
  std::vector<SqlValue> body = bodyRow(5, "Books<div>Milk</div>");
  body[1] = std::int64_t{1};
  placeRecords(image, 1, 150, {note, body}, true);
  const Carved c = carve(image, true, false);
  EXPECT_TRUE(c.notes.empty());
  EXPECT_TRUE(c.bodies.empty());
  // The 6-byte integer after the flags stays what the layout wants: a flag column holding a
  // text is no note either.
  PageImage text(kPageSize, 2, true);
  setSchemaFormat(text, 4);
  std::vector<SqlValue> odd = noteRow(5, std::int64_t{386245844}, "Books", "");
  odd[4] = std::string("x");
  placeRecords(text, 1, 150, {odd}, true);
  EXPECT_TRUE(carve(text, true, false).notes.empty());
}

TEST(DeletedNotesCarving, AccountAndStoreRowsAreNoBodies) {
  // The store's own rows begin, as a body does, with small integers and a text; their
  // later serial types are not those of ZNOTEBODY.
  const std::vector<SqlValue> account = {nullptr,         std::int64_t{1},
                                         std::int64_t{1}, std::int64_t{0},
                                         std::int64_t{1}, std::string("DeviceLocalAccount"),
                                         nullptr,         std::string("On My iPhone")};
  const std::vector<SqlValue> store = {nullptr,
                                       std::int64_t{7},
                                       std::int64_t{1},
                                       std::int64_t{1},
                                       std::string("LocalNoteStore"),
                                       std::string("Notes"),
                                       nullptr};
  // A body whose representation is a blob stays one.
  std::vector<SqlValue> referenced = bodyRow(8, "Films<div>Let the Right One In</div>");
  referenced[6] = fixtures::Blob{{0x62, 0x70, 0x6C, 0x69, 0x73, 0x74}};
  for (const std::uint8_t format : {1, 4}) {
    PageImage image(kPageSize, 3, true);
    setSchemaFormat(image, format);
    placeRecords(image, 1, 100, {account, store}, format == 4);
    placeRecords(image, 2, 100,
                 {bodyRow(6, "Door code<div>1947</div>"), referenced, account, store}, format == 4);
    const Carved c = carve(image, true, false);
    ASSERT_EQ(c.bodies.size(), 2u) << int{format};
    EXPECT_EQ(c.bodies[0]->uid, 6);
    EXPECT_EQ(c.bodies[1]->uid, 8);
    EXPECT_EQ(c.bodies[1]->noteValue, "Films<div>Let the Right One In</div>");
  }
}

TEST(DeletedNotesCarving, HostileImagesEndQuietly) {
  RecordList<MzNoteNode> notes;
  RecordList<MzNoteValueNode> bodies;
  // Page size 0 and 1, a file shorter than its page size, a cell pointer past the page.
  for (int pageSize : {0, 1, 512}) {
    std::vector<std::uint8_t> bytes(300, 0x01);
    bytes[16] = static_cast<std::uint8_t>(pageSize >> 8);
    bytes[17] = static_cast<std::uint8_t>(pageSize);
    const auto db = CarveDatabase::fromImage(DatabaseImage(bytes));
    carveDeletedNotePages(db, true, false, notes, bodies);
    carveDeletedNotePages(db, false, true, notes, bodies);
  }
  PageImage image(kPageSize, 2, true, 0xFFFF);
  image.put(image.pageOffset(2) - 10, {1, 1, 1, 1, 1, 1, 5, 1, 1, 1});  // runs off the end
  carveDeletedNotePages(CarveDatabase::fromImage(DatabaseImage(image.bytes())), true, true, notes,
                        bodies);
  SUCCEED();
}

}  // namespace
