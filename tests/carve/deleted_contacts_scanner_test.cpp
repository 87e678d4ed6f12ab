#include "carve/deleted_contacts_scanner.h"

#include <gtest/gtest.h>

#include <any>
#include <string>
#include <vector>

#include "app/carve_steps.h"
#include "carve/page_walk.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using Bytes8 = std::vector<std::uint8_t>;
constexpr int kPage = 1024;

// A database image of `pages` pages of kPage bytes with a valid header.
class PageImage {
 public:
  explicit PageImage(int pages) : bytes_(static_cast<std::size_t>(pages) * kPage, 0) {
    const char magic[] = "SQLite format 3";
    std::copy(magic, magic + sizeof magic, bytes_.begin());
    bytes_[16] = kPage >> 8;
    bytes_[17] = kPage & 0xFF;
    bytes_[18] = bytes_[19] = 1;
  }
  // Makes page `index` a table leaf whose first cell starts at `cell` bytes into the page.
  void leaf(int index, int cell) {
    const std::size_t page = static_cast<std::size_t>(index) * kPage;
    bytes_[page] = 0x0D;
    bytes_[page + 8] = static_cast<std::uint8_t>(cell >> 8);
    bytes_[page + 9] = static_cast<std::uint8_t>(cell & 0xFF);
  }
  void put(std::size_t offset, const Bytes8& data) {
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  void put(std::size_t offset, const std::string& text) {
    put(offset, Bytes8(text.begin(), text.end()));
  }
  CarveDatabase database() const { return CarveDatabase::fromImage(DatabaseImage(bytes_)); }

 private:
  Bytes8 bytes_;
};

std::uint8_t textType(const std::string& text) {
  return static_cast<std::uint8_t>(13 + 2 * text.size());
}

struct Person {
  std::string first, last, organization, note;
  std::uint8_t headerLength = 0x23;  // 0x23..0x26 carry a readable id
  std::uint8_t idByte = 40;
};

// A freed ABPerson cell as the device leaves it: payload length, rowid, header length,
// 34 serial types (ROWID .. IsPreferredName) and the bodies. Person records are matched by
// the section and sort-index columns ("0000040401" at header positions 27 to 31).
Bytes8 personCell(const Person& p) {
  Bytes8 types(34, 0);
  Bytes8 body;
  auto text = [&](int position, const std::string& value) {
    if (value.empty()) return;
    types[static_cast<std::size_t>(position)] = textType(value);
    body.insert(body.end(), value.begin(), value.end());
  };
  text(1, p.first);
  text(2, p.last);
  text(7, p.organization);
  text(9, p.note);
  types[10] = 1;  // Kind
  body.push_back(0);
  text(16, p.first);  // FirstSort
  types[18] = types[19] = 4;
  for (int i = 0; i < 8; ++i) body.push_back(static_cast<std::uint8_t>(0x10 + i));
  types[29] = types[30] = 4;
  for (int i = 0; i < 2; ++i) body.insert(body.end(), {0x7F, 0xFF, 0xFF, 0xFF});
  types[31] = 1;  // PersonLink -1
  body.push_back(0xFF);
  types[33] = 9;  // IsPreferredName 1
  Bytes8 cell = {0x50, p.idByte, p.headerLength};
  cell.insert(cell.end(), types.begin(), types.end());
  cell.insert(cell.end(), body.begin(), body.end());
  return cell;
}

// A freed ABMultiValue cell: UID, record_id, property, identifier 0, label 1, value.
Bytes8 valueCell(std::uint8_t recordId, std::uint8_t property, const std::string& value) {
  Bytes8 cell = {0x20,     0x05,    0x06, 0x00, 0x01, 0x01, 0x08, 0x09, textType(value),
                 recordId, property};
  cell.insert(cell.end(), value.begin(), value.end());
  return cell;
}

struct Carved {
  NotificationCenter center;
  ScanLists lists;
  DatabasePreparer databases{""};
  std::vector<std::shared_ptr<MzContactNode>> posted;
  std::vector<std::int32_t> progress;

  explicit Carved(const CarveDatabase& db, bool iOS7 = false) {
    center.addObserver("ScanDelContactInfo", [this](const std::any& o) {
      posted.push_back(std::any_cast<std::shared_ptr<MzContactNode>>(o));
    });
    center.addObserver("ScanProgressInfo", [this](const std::any& o) {
      progress.push_back(std::any_cast<std::int32_t>(o));
    });
    ScanContext scan{"", center, lists, databases};
    scan.bIOS7DeviceNode = iOS7;
    carveDeletedContacts(db, scan);
  }
};

}  // namespace

TEST(DeletedContactsScanner, PersonFieldsAndValuesAreJoinedByTheRecordId) {
  PageImage image(3);
  image.leaf(1, 100);
  image.put(kPage + 100, personCell({"Anna", "Berg", "Acme AB", "Neighbour", 0x23, 40}));
  image.leaf(2, 200);
  image.put(2 * kPage + 200, valueCell(40, 3, "+46 70 555 12 34"));
  image.put(2 * kPage + 300, valueCell(40, 4, "anna.berg@telia.com"));
  image.put(2 * kPage + 400, valueCell(40, 22, "http://www.berg.se"));
  image.put(2 * kPage + 500, valueCell(40, 5, "ignored address"));

  Carved carved(image.database());
  ASSERT_EQ(carved.posted.size(), 1u);
  const auto& anna = *carved.posted[0];
  EXPECT_EQ(anna.contactName, "Anna Berg");
  EXPECT_EQ(anna.contactCompany, "Acme AB");
  EXPECT_EQ(anna.contactNote, "Neighbour");
  EXPECT_EQ(anna.rowid, 40);
  EXPECT_EQ(anna.contactPhone, " +46 70 555 12 34");
  EXPECT_EQ(anna.contactEmail, " anna.berg@telia.com");
  EXPECT_EQ(anna.contactHomepage, " http://www.berg.se");
  EXPECT_EQ(carved.lists.delContactValueArray.size(), 4u);
  EXPECT_EQ(carved.progress, std::vector<std::int32_t>{75});
}

// A value record carved twice (a freed copy beside a stale one, the number written with
// and without blanks) is listed once; the contact says where its signature matched, and the
// bytes there are that signature.
TEST(DeletedContactsScanner, AValueCarvedTwiceIsListedOnceAndTheRecordSaysWhereItWasFound) {
  PageImage image(3);
  image.leaf(1, 100);
  image.put(kPage + 100, personCell({"Anna", "Berg", "", "", 0x23, 40}));
  image.leaf(2, 200);
  image.put(2 * kPage + 200, valueCell(40, 3, "+46 70 555 12 34"));
  image.put(2 * kPage + 300, valueCell(40, 4, "anna.berg@telia.com"));
  image.put(2 * kPage + 400, valueCell(40, 3, "+46705551234"));
  image.put(2 * kPage + 500, valueCell(40, 4, "anna.berg@telia.com"));
  image.put(2 * kPage + 600, valueCell(40, 3, "08-555 000"));
  CarveDatabase db = image.database();
  db.fileName = "AddressBook.sqlitedb";

  Carved carved(db);
  ASSERT_EQ(carved.posted.size(), 1u);
  const MzContactNode& anna = *carved.posted[0];
  // Values are found from the page's end: the later copy of the number is the one kept.
  EXPECT_EQ(anna.contactPhone, " 08-555 000 +46705551234");
  EXPECT_EQ(anna.contactEmail, " anna.berg@telia.com");
  EXPECT_EQ(anna.values.size(), 3u);
  // The person's signature (header positions 27 to 31) in the second page as SQLite counts.
  const std::int64_t header = kPage + 100 + 3;
  EXPECT_EQ(anna.origin, RecordOrigin::carved("AddressBook.sqlitedb", 2, header + 27,
                                              RecordOrigin::Place::RecordSignature));
  const std::uint8_t signature[] = {0x00, 0x00, 0x04, 0x04, 0x01};
  EXPECT_TRUE(db.image.matches(anna.origin.offset, signature, sizeof signature));
  EXPECT_EQ(originText(anna.origin),
            "carved from AddressBook.sqlitedb, page 2, offset 1154 (record signature)");
}

TEST(DeletedContactsScanner, RecordIdsAreReadCountedDownOrNumberedAfterTheLargest) {
  // Page 2 (visited first): an unreadable id before any id is known, then ids 120 and 0.
  // Page 1: id 40, then two unreadable ids (39, 38).
  PageImage image(3);
  image.leaf(2, 100);
  image.put(2 * kPage + 100, personCell({"Unknown", "First", "", "", 0x0B, 7}));
  image.put(2 * kPage + 300, personCell({"Bo", "Ek", "", "", 0x24, 120}));
  image.put(2 * kPage + 500, personCell({"Zero", "Id", "", "", 0x25, 0}));
  image.leaf(1, 100);
  image.put(kPage + 100, personCell({"Anna", "Berg", "", "", 0x23, 40}));
  image.put(kPage + 300, personCell({"Carl", "Falk", "", "", 0x22, 9}));
  image.put(kPage + 500, personCell({"Dora", "Gran", "", "", 0x0B, 9}));

  Carved carved(image.database());
  std::vector<std::pair<std::string, std::int32_t>> ids;
  for (const auto& c : carved.lists.delContactArray) ids.emplace_back(c->contactName, c->rowid);
  const std::vector<std::pair<std::string, std::int32_t>> expected = {
      {"Bo Ek", 120},    {"Zero Id", 121},  {"Unknown First", 121},
      {"Anna Berg", 40}, {"Carl Falk", 39}, {"Dora Gran", 38}};
  EXPECT_EQ(ids, expected);
  EXPECT_EQ(carved.lists.delUnKnowContactArray.size(), 1u);
}

TEST(DeletedContactsScanner, UnknownIdPersonsAreNumberedLastFoundFirst) {
  PageImage image(2);
  image.leaf(1, 100);
  image.put(kPage + 100, personCell({"P1", "X", "", "", 0x0B, 1}));
  image.put(kPage + 300, personCell({"P2", "X", "", "", 0x0B, 1}));
  image.put(kPage + 500, personCell({"P3", "X", "", "", 0x0B, 1}));
  image.put(kPage + 700, personCell({"Top", "Id", "", "", 0x26, 120}));
  Carved carved(image.database());
  std::vector<std::pair<std::string, std::int32_t>> ids;
  for (const auto& c : carved.lists.delContactArray) ids.emplace_back(c->contactName, c->rowid);
  const std::vector<std::pair<std::string, std::int32_t>> expected = {
      {"Top Id", 120}, {"P3 X", 121}, {"P2 X", 122}, {"P1 X", 123}};
  EXPECT_EQ(ids, expected);
}

TEST(DeletedContactsScanner, UnclaimedValuesComeBackAsUnknownContacts) {
  PageImage image(2);
  image.leaf(1, 100);
  image.put(kPage + 100, valueCell(7, 22, "http://www.holm.se"));
  image.put(kPage + 300, valueCell(7, 3, "08-555 123"));
  image.put(kPage + 500, valueCell(9, 22, "http://example.org"));
  Carved carved(image.database());
  // Values are found from the page's end: 9 first, then the two of 7, each seeding one.
  ASSERT_EQ(carved.posted.size(), 3u);
  EXPECT_EQ(carved.posted[0]->contactName, "Unknown");
  EXPECT_EQ(carved.posted[0]->rowid, 9);
  EXPECT_EQ(carved.posted[0]->contactHomepage, " http://example.org");
  for (int i : {1, 2}) {
    EXPECT_EQ(carved.posted[i]->rowid, 7);
    EXPECT_EQ(carved.posted[i]->contactPhone, " 08-555 123");
    EXPECT_EQ(carved.posted[i]->contactHomepage, " http://www.holm.se");
  }
}

TEST(DeletedContactsScanner, PhoneFallsBackToTheTextAfterTheNameOnTheLastPage) {
  PageImage image(3);
  image.leaf(1, 100);
  image.put(kPage + 100, personCell({"Anna", "Berg", "", "", 0x23, 40}));
  image.put(kPage + 400, personCell({"Eva", "Lind", "", "", 0x24, 41}));
  // The last whole page (index 2) is an index page holding the names' search text.
  image.put(2 * kPage, Bytes8{0x0A});
  image.put(2 * kPage + 50, "annaberg5551234 tail");
  image.put(2 * kPage + 90, "EvaLind0123456789012345678901 rest");
  Carved carved(image.database());
  ASSERT_EQ(carved.posted.size(), 2u);
  EXPECT_EQ(carved.posted[0]->contactPhone, "5551234 ");
  EXPECT_EQ(carved.posted[1]->contactPhone, "");  // 21 characters or more: no phone
}

TEST(DeletedContactsScanner, DamagedAndTinyDatabasesCarveNothingButReportProgress) {
  PageImage one(1);
  Carved single(one.database());
  EXPECT_TRUE(single.posted.empty());
  EXPECT_EQ(single.progress, std::vector<std::int32_t>{75});

  // A cell pointer past the page and a page size of 0.
  PageImage odd(2);
  odd.leaf(1, 0xFFFF);
  Carved pastPage(odd.database());
  EXPECT_TRUE(pastPage.posted.empty());
  DatabaseImage zeroSize(Bytes8(4096, 0));
  Carved zero(CarveDatabase::fromImage(zeroSize));
  EXPECT_EQ(zero.progress, std::vector<std::int32_t>{75});
}

TEST(DeletedContactsScanner, MissingDatabaseIsLoggedAndPostsNothing) {
  TempDir temp;
  StepHarness harness(temp.path());
  int posts = 0;
  harness.center.addObserver("ScanProgressInfo", [&](const std::any&) { ++posts; });
  harness.run(scanDelContactThread);
  EXPECT_EQ(harness.logged, std::vector<std::string>{"contactDB is not exist"});
  EXPECT_EQ(posts, 0);
}
