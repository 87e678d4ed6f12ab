#include "carve/deleted_bookmarks_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/carve_steps.h"
#include "extract/device_databases.h"
#include "notes_volume.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using fixtures::PageImage;
using Bytes = std::vector<std::uint8_t>;

constexpr int kPageSize = 1024;

// A page whose first cell passes the page test and whose header-length byte (3 bytes in)
// is `headerLength`, which sets the page's first width. The test looks for the hex text
// "01010101" in the 8 bytes 9 bytes in, at any character: here it starts inside 0x20 and
// ends inside 0x12, so the cell itself holds no candidate.
void preparePage(PageImage& image, int page, std::uint8_t headerLength) {
  constexpr int kFirstCell = 40;
  image.setFirstCell(page, kFirstCell);
  const std::int64_t cell = image.pageOffset(page) + kFirstCell;
  image.put(cell, {0x81, 0x10, 0x02, headerLength, 0x00, 0x05, 0x05, 0x05, 0x2B, 0x20, 0x10, 0x10,
                   0x10, 0x12, 0x02});
}

// Bytes at offset `at` preceded by a header-length byte `x` and the zero of a rowid
// column six bytes before the candidate, so that a width decision reads `x`.
void putCandidate(PageImage& image, std::int64_t at, std::uint8_t x, const Bytes& run) {
  image.put(at - 7, {x, 0x00});
  image.put(at, run);
}

// A record the way the carver reads a one-byte title and URL at width 19: header start H,
// three integer columns, the title and URL serial types, then the six one-byte integers
// that make the candidate, 19 header bytes in all; the bodies follow.
std::int64_t putRecord(PageImage& image, std::int64_t h, std::uint8_t headerLength,
                       const std::string& title, const std::string& url) {
  Bytes bytes = {headerLength,
                 0x00,
                 0x01,
                 0x01,
                 0x01,
                 static_cast<std::uint8_t>(13 + 2 * title.size()),
                 static_cast<std::uint8_t>(13 + 2 * url.size())};
  for (int k = 0; k < 6; ++k) bytes.push_back(0x01);
  for (int k = 0; k < 7; ++k) bytes.push_back(0x02);
  bytes.insert(bytes.end(), {0x07, 0x00, 0x01});
  bytes.insert(bytes.end(), title.begin(), title.end());
  bytes.insert(bytes.end(), url.begin(), url.end());
  return image.put(h - 1, bytes);
}

std::vector<std::shared_ptr<MzBookMarkNode>> carve(PageImage& image) {
  return carveDeletedBookmarks(CarveDatabase::fromImage(DatabaseImage(image.bytes())));
}

DatabaseImage bytesAt16(Bytes bytes) {
  bytes.insert(bytes.begin(), 16, 0xEE);
  return DatabaseImage(std::move(bytes));
}

TEST(DeletedBookmarksProbes, FirstWidthAndWidthDecision) {
  // The header-length byte of the first cell: 0x15 starts at 19, 0x1B at 24, others at 11
  // unless a zero follows, which sends the test two bytes back.
  EXPECT_EQ(bBookMarkTableAlter(bytesAt16({0x15}), 16), 1);
  EXPECT_EQ(bBookMarkTableAlter(bytesAt16({0x1B}), 16), 2);
  EXPECT_EQ(bBookMarkTableAlter(bytesAt16({0x30, 0x07}), 16), 0);
  EXPECT_EQ(bBookMarkTableAlter(bytesAt16({0x18, 0x00}), 17), 1);  // zero: byte before
  EXPECT_EQ(bBookMarkTableAlter(bytesAt16({0x1A, 0x07, 0x30, 0x00}), 18), 2);
  EXPECT_EQ(bBookMarkTableAlter(bytesAt16({0x0F, 0x07, 0x30, 0x00}), 18), 0);

  // The byte before the nearest zero at or before the offset.
  const DatabaseImage marks = bytesAt16({0x1A, 0x00, 0x05, 0x05, 0x16, 0x00, 0x07});
  EXPECT_EQ(getMarkBookLength(marks, 18, 24), 1);  // zero at 17, 0x1A before it
  EXPECT_EQ(getMarkBookLength(marks, 18, 19), -1);
  EXPECT_EQ(getMarkBookLength(marks, 22, 19), 1);  // zero at 21, 0x16 before it
  EXPECT_EQ(getMarkBookLength(marks, 21, 24), -1);
  EXPECT_EQ(getMarkBookLength(marks, 21, 11), -1);
  EXPECT_EQ(getMarkBookLength(bytesAt16({0x00, 0x00, 0x07}), 18, 19), 0);

  const DatabaseImage run = bytesAt16({0x01, 0x2B, 0x35, 0x01, 0x85, 0x02});
  EXPECT_EQ(TitleAndUrlIsAlterbleDBFile(run, 16), 0);
  EXPECT_EQ(TitleAndUrlIsAlterbleDBFile(run, 18), 2);
  EXPECT_EQ(TitleAndUrlIsAlterbleDBFile(run, 20), 1);
  EXPECT_EQ(TitleAndUrlIsAlterbleDBFile(bytesAt16({0x05}), 16), 9);  // none near: "more"
  EXPECT_TRUE(IsExtra_AttributeAlter(run, 17, 24));
  EXPECT_FALSE(IsExtra_AttributeAlter(run, 17, 19));
  EXPECT_FALSE(IsExtra_AttributeAlter(run, 16, 24));
  EXPECT_TRUE(IsServer_IDAlter(run, 17, 24));
  EXPECT_FALSE(IsServer_IDAlter(run, 18, 24));  // the byte after is 0x01
}

TEST(DeletedBookmarksCarving, TitleAndUrlOfARecordAndTheTopFolders) {
  PageImage image(kPageSize, 2, true);
  preparePage(image, 1, 0x16);
  const std::int64_t page = image.pageOffset(1);
  std::int64_t at = putRecord(image, page + 200, 0x16, "Root", "");
  at = putRecord(image, at + 40, 0x16, "com.apple.ReadingList", "");
  putRecord(image, at + 40, 0x16, "SVT Nyheter", "http://www.svt.se/nyheter/");
  auto carved = carve(image);
  ASSERT_EQ(carved.size(), 3u);
  EXPECT_EQ(carved[0]->bookMarkTitle, "Root");
  EXPECT_TRUE(isTopBookmarkFolder(*carved[0]));
  EXPECT_TRUE(isTopBookmarkFolder(*carved[1]));
  EXPECT_EQ(carved[2]->bookMarkTitle, "SVT Nyheter");
  EXPECT_EQ(carved[2]->bookMarkURL, "http://www.svt.se/nyheter/");
  EXPECT_FALSE(isTopBookmarkFolder(*carved[2]));
}

TEST(DeletedBookmarksCarving, NineteenSkipsACloseCandidateAfterARunOfSixOnes) {
  PageImage image(kPageSize, 2, true);
  preparePage(image, 1, 0x15);
  const std::int64_t a = image.pageOffset(1) + 500;
  // The first candidate decides the page at 19 (header length 0x16) and is a run of six.
  putCandidate(image, a, 0x16, {1, 1, 1, 1, 1, 1, 2});
  image.put(a + 10, {1, 1, 1, 1, 0x55, 2});  // 10 after the run: skipped
  image.put(a + 21, {1, 1, 1, 1, 0x55, 2});  // 21 after it: a record (24 would skip it)
  EXPECT_EQ(carve(image).size(), 2u);
}

TEST(DeletedBookmarksCarving, TwentyFourSkipsWithinTwentyFourAndTakesEveryFourOnes) {
  PageImage image(kPageSize, 2, true);
  preparePage(image, 1, 0x1B);
  const std::int64_t a = image.pageOffset(1) + 500;
  // Decided at 24 (0x1A). At width 24 any four 0x01 bytes are a candidate, so the run of
  // six gives records at a, a + 1 and a + 2.
  putCandidate(image, a, 0x1A, {1, 1, 1, 1, 1, 1, 2});
  image.put(a + 10, {1, 1, 1, 1, 1, 0x55, 2});  // both skipped forms (at a + 10 and a + 11)
  image.put(a + 21, {1, 1, 1, 1, 0x55, 2});     // within 24 of the run: skipped (19 takes it)
  image.put(a + 60, {1, 1, 1, 1, 2});           // four ones: a record at 24 only
  EXPECT_EQ(carve(image).size(), 3u + 1u);
}

TEST(DeletedBookmarksCarving, AnUndecidedNineteenPageSwitchesToTwentyFour) {
  PageImage image(kPageSize, 3, true);
  for (int page : {1, 2}) preparePage(image, page, 0x15);
  // Page 1: the first candidate's header length is 0x1A: width 24 from then on, so four
  // ones later on are a record too.
  const std::int64_t a = image.pageOffset(1) + 500;
  putCandidate(image, a, 0x1A, {1, 1, 1, 1, 0x55, 2});
  image.put(a + 100, {1, 1, 1, 1, 2});
  EXPECT_EQ(carve(image).size(), 2u);
  // Page 2 with the same bytes but header length 0x16: the page stays at 19 and the four
  // ones are no candidate. Each page starts undecided with its own width.
  const std::int64_t b = image.pageOffset(2) + 500;
  putCandidate(image, b, 0x16, {1, 1, 1, 1, 0x55, 2});
  image.put(b + 100, {1, 1, 1, 1, 2});
  EXPECT_EQ(carve(image).size(), 2u + 1u);
}

// A bookmarks record of `columns` columns as a table leaf cell: payload length, rowid,
// header, bodies. The rowid alias is NULL; the integer columns hold 1 (folders: type 1),
// order_index 7; every other column is NULL, and so is an empty `url`.
Bytes bookmarkCell(int columns, std::uint8_t rowid, const std::string& title,
                   const std::string& url) {
  Bytes types(static_cast<std::size_t>(columns), 0x00);
  Bytes bodies;
  for (int column = 1; column < columns; ++column) {
    if (column == 5 && url.empty()) continue;  // a folder's URL is NULL
    if (column == 4 || column == 5) {
      const std::string& text = column == 4 ? title : url;
      types[column] = static_cast<std::uint8_t>(13 + 2 * text.size());
      bodies.insert(bodies.end(), text.begin(), text.end());
    } else if (column <= 3 || (column >= 6 && column <= 11)) {
      types[column] = 0x01;
      bodies.push_back(column == 11 ? 0x07 : 0x01);
    }
  }
  Bytes record = {static_cast<std::uint8_t>(columns + 1)};
  record.insert(record.end(), types.begin(), types.end());
  record.insert(record.end(), bodies.begin(), bodies.end());
  Bytes cell = {static_cast<std::uint8_t>(record.size()), rowid};
  cell.insert(cell.end(), record.begin(), record.end());
  return cell;
}

// Table leaf `page` whose cell content starts with a freed cell at `freedAt`, its first
// four bytes a freeblock header (the page's only freeblock), and holds one live cell at
// `liveAt`.
void putLiveAndFreed(PageImage& image, int page, const Bytes& live, int liveAt, const Bytes& freed,
                     int freedAt) {
  const std::int64_t at = image.pageOffset(page);
  image.setFirstCell(page, liveAt);
  image.put(at + 1,
            {static_cast<std::uint8_t>(freedAt >> 8), static_cast<std::uint8_t>(freedAt), 0x00,
             0x01, static_cast<std::uint8_t>(freedAt >> 8), static_cast<std::uint8_t>(freedAt)});
  image.put(at + liveAt, live);
  Bytes overwritten = freed;
  const auto size = static_cast<std::uint8_t>(freed.size());
  std::copy_n(Bytes{0x00, 0x00, 0x00, size}.begin(), 4, overwritten.begin());
  image.put(at + freedAt, overwritten);
}

TEST(DeletedBookmarksCarving, TheLiveFirstCellsWidthReadsFreedRecords) {
  for (int columns : {21, 29}) {
    PageImage image(kPageSize, 3, true);
    const Bytes blocket =
        bookmarkCell(columns, 4, "Blocket - Köp & sälj", "http://www.blocket.se/");
    putLiveAndFreed(image, 1, bookmarkCell(columns, 9, "Live", "http://live.example/"), 900,
                    blocket, 500);
    // A later cell took the freeblock's last six bytes (the last bodies of the record).
    image.put(image.pageOffset(1) + 502, {0x00, static_cast<std::uint8_t>(blocket.size() - 6)});
    // A freed folder (no URL), then bytes that read as a record whose URL is no address.
    putLiveAndFreed(image, 2, bookmarkCell(columns, 9, "Live", "http://live.example/"), 900,
                    bookmarkCell(columns, 5, "Nyheter", ""), 300);
    const Bytes notAnAddress = bookmarkCell(columns, 6, "Odd", "no address here");
    image.put(image.pageOffset(2) + 600, notAnAddress);
    image.put(image.pageOffset(2) + 302, {0x02, 0x58});  // the freeblock runs to 600 + 200
    const auto carved = carve(image);
    ASSERT_EQ(carved.size(), 2u) << columns;
    EXPECT_EQ(carved[0]->bookMarkTitle, "Blocket - Köp & sälj");
    EXPECT_EQ(carved[0]->bookMarkURL, "http://www.blocket.se/");
    EXPECT_EQ(carved[1]->bookMarkTitle, "Nyheter");
    EXPECT_EQ(carved[1]->bookMarkURL, "");
    // Read out of the page's freeblock, found past the four bytes its header took.
    EXPECT_EQ(carved[1]->origin.place, RecordOrigin::Place::Freeblock);
    EXPECT_EQ(carved[1]->origin.offset, image.pageOffset(2) + 304);
    EXPECT_EQ(carved[1]->origin.page, 3);
  }
}

TEST(DeletedBookmarksCarving, LongTitlesAndAddressesTakeTwoByteSerialTypes) {
  // A 21-column row as SQLite writes it: a title of 58 bytes or more and a long address
  // take two-byte serial types, and the freed record ends where its freeblock does.
  const std::string title = "Tripadvisor: Visby hotels - best prices for hotels in Visby, Gotland";
  const std::string url = "http://www.tripadvisor.com/Hotels-g189850-Visby_Gotland-Hotels.html";
  using fixtures::SqlValue;
  const std::vector<SqlValue> row = {nullptr,
                                     std::int64_t{0},
                                     std::int64_t{1},
                                     std::int64_t{0},
                                     title,
                                     url,
                                     std::int64_t{0},
                                     std::int64_t{1},
                                     std::int64_t{1},
                                     std::int64_t{0},
                                     std::int64_t{0},
                                     std::int64_t{3},
                                     std::string("5B0E3C8A-2F4D-4E1B-9C7A-1D2E3F4A5B6C"),
                                     std::int64_t{0},
                                     392230800.5,
                                     nullptr,
                                     nullptr,
                                     nullptr,
                                     std::int64_t{1},
                                     std::int64_t{0},
                                     nullptr};
  const Bytes record = fixtures::encodeRecord(row);
  Bytes freed = {static_cast<std::uint8_t>(0x80 | record.size() >> 7),
                 static_cast<std::uint8_t>(record.size() & 0x7F), 0x0C};
  freed.insert(freed.end(), record.begin(), record.end());
  ASSERT_LT(freed.size(), 256u);
  PageImage image(kPageSize, 2, true);
  putLiveAndFreed(image, 1, bookmarkCell(21, 9, "Live", "http://live.example/"), 900, freed, 500);
  const auto carved = carve(image);
  ASSERT_EQ(carved.size(), 1u);
  EXPECT_EQ(carved[0]->bookMarkTitle, title);
  EXPECT_EQ(carved[0]->bookMarkURL, url);
}

TEST(DeletedBookmarksCarving, PagesLeftFromFreedRecordsAreReadAtTheTablesWidth) {
  PageImage image(kPageSize, 5, true);
  putLiveAndFreed(image, 1, bookmarkCell(29, 9, "Live", "http://live.example/"), 900,
                  bookmarkCell(29, 4, "Leaf", "http://leaf.example/"), 500);
  // Page 2 (page number 3) is the freelist's trunk, listing page 4 (number 5) as a leaf.
  image.put(32, {0x00, 0x00, 0x00, 0x03});
  image.put(image.pageOffset(2),
            {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05});
  image.put(image.pageOffset(2) + 100, bookmarkCell(29, 5, "Trunk", "https://trunk.example/"));
  image.put(image.pageOffset(4) + 8, bookmarkCell(29, 6, "Freed leaf", "http://free.example/"));
  // Page 3: an interior page whose free space still holds a record from its time as a leaf.
  image.setPageKind(3, 0x05);
  image.put(image.pageOffset(3) + 300, bookmarkCell(29, 7, "Interior", "http://interior.example/"));
  std::vector<std::string> titles;
  std::vector<RecordOrigin::Place> places;
  for (const auto& b : carve(image)) {
    titles.push_back(b->bookMarkTitle);
    places.push_back(b->origin.place);
  }
  EXPECT_EQ(titles, (std::vector<std::string>{"Leaf", "Trunk", "Interior", "Freed leaf"}));
  using Place = RecordOrigin::Place;
  EXPECT_EQ(places, (std::vector<Place>{Place::Freeblock, Place::Freelist, Place::Unallocated,
                                        Place::Freelist}));

  // Without a live bookmark cell the table's width is unknown and nothing is read there.
  PageImage none(kPageSize, 3, true);
  none.setPageKind(2, 0x05);
  none.put(none.pageOffset(2) + 300, bookmarkCell(29, 7, "Interior", "http://interior.example/"));
  EXPECT_TRUE(carve(none).empty());
}

TEST(DeletedBookmarksCarving, PagesThatAreNotBookmarksAndHostileImages) {
  PageImage image(kPageSize, 4, true);
  preparePage(image, 1, 0x16);
  image.setPageKind(1, 0x0A);  // an index page
  putRecord(image, image.pageOffset(1) + 300, 0x16, "Index", "http://a/");
  preparePage(image, 2, 0x16);
  image.setFirstCell(2, kPageSize - 17);  // the first cell too close to the end of the page
  putRecord(image, image.pageOffset(2) + 300, 0x16, "Late", "http://b/");
  // Page 3: a first cell without four 0x01 bytes.
  image.setFirstCell(3, 40);
  putRecord(image, image.pageOffset(3) + 300, 0x16, "Other", "http://c/");
  EXPECT_TRUE(carve(image).empty());

  for (int pageSize : {0, 1, 512}) {
    Bytes bytes(300, 0x01);
    bytes[16] = static_cast<std::uint8_t>(pageSize >> 8);
    bytes[17] = static_cast<std::uint8_t>(pageSize);
    carveDeletedBookmarks(CarveDatabase::fromImage(DatabaseImage(bytes)));
  }
  PageImage ones(kPageSize, 3, true);
  for (int page : {1, 2}) {
    preparePage(ones, page, 0x1B);
    for (int k = 60; k < kPageSize; ++k) ones.bytes()[ones.pageOffset(page) + k] = 0x01;
  }
  carveDeletedBookmarks(CarveDatabase::fromImage(DatabaseImage(ones.bytes())));
  SUCCEED();
}

struct StepRun {
  std::vector<std::shared_ptr<MzBookMarkNode>> posted;
  std::vector<std::int32_t> progress;
  std::vector<std::string> logged;
};

StepRun runStep(const std::string& folder) {
  StepRun r;
  StepHarness step(folder);
  step.center.addObserver("scanDelBookMarkInfo", [&](const std::any& o) {
    r.posted.push_back(std::any_cast<std::shared_ptr<MzBookMarkNode>>(o));
  });
  step.center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    r.progress.push_back(std::any_cast<std::int32_t>(o));
  });
  step.run(ScanDelBookMarkThread);
  r.logged = step.logged;
  return r;
}

TEST(DeletedBookmarksStep, TopFoldersAreNeverPostedAndProgressIs95) {
  TempDir tmp;
  const std::string folder = tmp.sub("backup");
  std::filesystem::create_directories(folder);
  PageImage image(kPageSize, 2, true);
  preparePage(image, 1, 0x16);
  std::int64_t at = putRecord(image, image.pageOffset(1) + 200, 0x16, "Root", "");
  at = putRecord(image, at + 40, 0x16, "com.apple.ReadingList", "");
  putRecord(image, at + 40, 0x16, "Wikipedia", "http://sv.wikipedia.org/");
  ASSERT_TRUE(
      fixtures::writeImageDatabase(folder + "/" + devicedb::kBookmarksKey, image, kPageSize));
  StepRun r = runStep(folder);
  ASSERT_EQ(r.posted.size(), 1u);
  EXPECT_EQ(r.posted[0]->bookMarkTitle, "Wikipedia");
  EXPECT_EQ(r.posted[0]->bookMarkURL, "http://sv.wikipedia.org/");
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{95});
  EXPECT_TRUE(r.logged.empty());
}

TEST(DeletedBookmarksStep, TheNotesDatabaseIsNeverCarvedAsBookmarks) {
  TempDir tmp;
  const std::string folder = tmp.sub("backup");
  std::filesystem::create_directories(folder);
  PageImage image(kPageSize, 2, true);
  preparePage(image, 1, 0x16);
  putRecord(image, image.pageOffset(1) + 200, 0x16, "Shopping", "Milk");
  ASSERT_TRUE(
      fixtures::writeImageDatabase(folder + "/" + devicedb::kNotesSecondKey, image, kPageSize));
  StepRun r = runStep(folder);
  EXPECT_TRUE(r.posted.empty());
  EXPECT_TRUE(r.progress.empty());
  EXPECT_EQ(r.logged, std::vector<std::string>{"NoteDB is not exist"});
}

}  // namespace
