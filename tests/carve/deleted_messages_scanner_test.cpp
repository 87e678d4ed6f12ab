#include "carve/deleted_messages_scanner.h"

#include <gtest/gtest.h>

#include <any>
#include <cstring>
#include <filesystem>

#include "app/carve_steps.h"
#include "base/conversions.h"
#include "carve/carve_primitives.h"
#include "extract/device_databases.h"
#include "fixture_support.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/step_harness.h"
#include "support/temp_dir.h"

namespace {

using Bytes8 = std::vector<std::uint8_t>;
using MessageList = RecordList<MzMessageNode>;

// ---- Records and pages made byte by byte, as SQLite lays them out ----------------------------

void putVarint(Bytes8& out, std::uint64_t v) {
  Bytes8 groups;
  do {
    groups.push_back(static_cast<std::uint8_t>(v & 0x7F));
    v >>= 7;
  } while (v != 0);
  for (std::size_t i = groups.size(); i-- > 0;) {
    out.push_back(static_cast<std::uint8_t>(groups[i] | (i > 0 ? 0x80 : 0)));
  }
}

struct Column {
  std::uint64_t type = 0;
  Bytes8 body;
};

Column null() { return {}; }
Column integer(std::int64_t v) {
  if (v == 0) return {8, {}};
  if (v == 1) return {9, {}};
  int n = v < 128 ? 1 : v < 32768 ? 2 : v < 8388608 ? 3 : 4;
  Column c{static_cast<std::uint64_t>(n == 4 ? 4 : n), {}};
  for (int i = n - 1; i >= 0; --i) c.body.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return c;
}
Column text(const std::string& s) { return {13 + 2 * s.size(), Bytes8(s.begin(), s.end())}; }
Column blob(std::size_t n) { return {12 + 2 * n, Bytes8(n, 0x84)}; }

// A table-leaf cell: payload length, rowid, record header and bodies.
Bytes8 cell(std::uint64_t rowid, const std::vector<Column>& columns) {
  Bytes8 types, bodies;
  for (const Column& c : columns) {
    putVarint(types, c.type);
    bodies.insert(bodies.end(), c.body.begin(), c.body.end());
  }
  Bytes8 record;
  putVarint(record, types.size() + 1);
  record.insert(record.end(), types.begin(), types.end());
  record.insert(record.end(), bodies.begin(), bodies.end());
  Bytes8 out;
  putVarint(out, record.size());
  putVarint(out, rowid);
  out.insert(out.end(), record.begin(), record.end());
  return out;
}

// A database image of `pages` pages of `pageSize` bytes; page 0 carries the header.
class Image {
 public:
  Image(std::size_t pageSize, std::size_t pages, std::uint8_t writeVersion = 2)
      : pageSize_(pageSize), bytes_(pageSize * pages, 0) {
    std::memcpy(bytes_.data(), "SQLite format 3", 16);
    bytes_[16] = static_cast<std::uint8_t>(pageSize >> 8);
    bytes_[17] = static_cast<std::uint8_t>(pageSize);
    bytes_[18] = bytes_[19] = writeVersion;
  }

  // Makes page `index` a table leaf whose cell pointer array lists `live` cells placed at
  // the given offsets; `freed` cells are written into the page but not listed.
  void leaf(std::size_t index, const std::vector<std::pair<std::size_t, Bytes8>>& live,
            const std::vector<std::pair<std::size_t, Bytes8>>& freed = {},
            std::uint8_t kind = 0x0D) {
    const std::size_t page = index * pageSize_;
    bytes_[page] = kind;
    bytes_[page + 3] = static_cast<std::uint8_t>(live.size() >> 8);
    bytes_[page + 4] = static_cast<std::uint8_t>(live.size());
    std::size_t lowest = pageSize_;
    for (std::size_t i = 0; i < live.size(); ++i) {
      bytes_[page + 8 + 2 * i] = static_cast<std::uint8_t>(live[i].first >> 8);
      bytes_[page + 9 + 2 * i] = static_cast<std::uint8_t>(live[i].first);
      lowest = std::min(lowest, live[i].first);
    }
    bytes_[page + 5] = static_cast<std::uint8_t>(lowest >> 8);
    bytes_[page + 6] = static_cast<std::uint8_t>(lowest);
    for (const auto* list : {&live, &freed}) {
      for (const auto& [offset, data] : *list) {
        std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<long>(page + offset));
      }
    }
  }

  CarveDatabase database() const { return CarveDatabase::fromImage(DatabaseImage(bytes_)); }
  Bytes8& bytes() { return bytes_; }

 private:
  std::size_t pageSize_;
  Bytes8 bytes_;
};

// ---- The tables' records -------------------------------------------------------------------

Bytes8 handleCell(std::uint64_t rowid, const std::string& address) {
  return cell(rowid, {null(), text(address), text("se"), text("SMS"), null()});
}

struct ChatMessage {
  std::string text;
  std::int64_t handle = 5;
  std::int64_t fromMe = 0;
  std::int64_t date = 389000000;  // seconds since 2001
  std::string service = "SMS";
  std::size_t bodyBytes = 280;  // attributedBody
};

// The 38 columns of the iOS 6 message table.
Bytes8 chatMessageCell(std::uint64_t rowid, const ChatMessage& m) {
  std::vector<Column> c = {null(),
                           text("0B4E6D60-3E0B-4C7A-9A55-3C0B2A7D5E11"),
                           text(m.text),
                           integer(0),
                           null(),
                           integer(m.handle),
                           null(),
                           text("se"),
                           blob(m.bodyBytes),
                           integer(10),
                           integer(0),
                           text(m.service),
                           text("p:+46701112233"),
                           text("C1E0D3A4-5B6C-4D7E-8F90-A1B2C3D4E5F6"),
                           integer(0),
                           integer(m.date),
                           integer(m.fromMe ? 0 : m.date + 42),
                           integer(0),
                           integer(1),
                           integer(1),
                           integer(0),
                           integer(m.fromMe)};
  while (c.size() < 38) c.push_back(integer(0));
  c[35] = null();  // cache_roomnames
  return cell(rowid, c);
}

struct Carved {
  MessageList posted;
  RecordList<MzChatMessageNode> chats;
  MessageList messages;
};

Carved carve(const CarveDatabase& db, carve::DelMessageLayout layout,
             RecordList<MzChatMessageNode> chats = {}) {
  Carved out;
  out.chats = std::move(chats);
  carve::DelMessageSink sink{
      [](const std::string& phone) -> std::optional<std::string> {
        if (phone == "+46705551234") return std::string("Emma Berg");
        return std::nullopt;
      },
      [&out](std::shared_ptr<MzMessageNode> m) { out.posted.push_back(std::move(m)); }};
  carve::carveDeletedMessages(db, layout, out.chats, out.messages, sink);
  return out;
}

const MzMessageNode* withText(const MessageList& list, const std::string& text) {
  for (const auto& m : list) {
    if (m->messageContent == text) return m.get();
  }
  return nullptr;
}

// ---- Chat layout -----------------------------------------------------------------------------

TEST(DeletedMessagesScanner, ChatLayoutFindsHandlesAndTheirMessages) {
  Image image(4096, 4);
  // Page 1: handles. Rowid 5 twice (the first found stays), rowid 200 takes two varint bytes.
  image.leaf(1, {{3000, handleCell(5, "+46705551234")}, {3100, handleCell(200, "+46709998877")}});
  image.leaf(2, {{3000, handleCell(5, "+46700000000")}});
  const std::string longText(75, 'x');
  ChatMessage sent{"On my way", 5, 1};
  ChatMessage received{longText, 200, 0};
  ChatMessage stranger{"Who is this?", 7, 2};
  ChatMessage first{"Your code is 4711", 1, 0};  // handle 1 is the constant type 9
  ChatMessage archived{"Long archive", 5, 0};
  archived.bodyBytes = 1700;  // attributedBody serial type 0x9b..: still two bytes
  image.leaf(3, {{200, chatMessageCell(300, sent)}},
             {{700, chatMessageCell(301, received)},
              {1200, chatMessageCell(302, stranger)},
              {1600, chatMessageCell(303, first)},
              {2000, chatMessageCell(304, archived)}});
  RecordList<MzChatMessageNode> live = {std::make_shared<MzChatMessageNode>()};
  live[0]->rowid = 1;
  live[0]->phoneValue = "+46701234567";

  const Carved r = carve(image.database(), carve::DelMessageLayout::Chat, live);

  ASSERT_EQ(r.chats.size(), 3u);  // the live handle and two carved ones
  EXPECT_EQ(r.chats[1]->rowid, 5);
  EXPECT_EQ(r.chats[1]->phoneValue, "+46705551234");
  EXPECT_EQ(r.chats[2]->rowid, 200);
  ASSERT_EQ(r.posted.size(), 5u);
  EXPECT_EQ(r.messages.size(), 5u);

  const MzMessageNode* m = withText(r.posted, "On my way");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->messagePhone, "+46705551234");
  EXPECT_EQ(m->messageName, std::optional<std::string>("Emma Berg"));
  EXPECT_EQ(m->messageType, "Send");
  EXPECT_EQ(m->messageDate, dateText(389000000, 0));
  EXPECT_FALSE(m->bImessage);

  m = withText(r.posted, longText);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->messagePhone, "+46709998877");
  EXPECT_EQ(m->messageType, "Received");
  EXPECT_EQ(m->messageName, std::nullopt);

  m = withText(r.posted, "Who is this?");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->messagePhone, "7_Messages");
  EXPECT_EQ(m->messageType, "Unknowed");
  EXPECT_EQ(m->messageName, std::optional<std::string>(""));  // never looked up

  m = withText(r.posted, "Your code is 4711");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->handle_id, 1);
  EXPECT_EQ(m->messagePhone, "+46701234567");  // the live handle

  m = withText(r.posted, "Long archive");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->messageDate, dateText(389000000, 0));
  EXPECT_EQ(m->messageType, "Received");
}

TEST(DeletedMessagesScanner, ChatLayoutTellsIMessageFromSmsAndKeepsLiveHandles) {
  Image image(4096, 3);
  image.leaf(1, {{3000, handleCell(5, "+46700000000")}});
  ChatMessage imessage{"Landed!", 5, 0};
  imessage.service = "iMessage";
  image.leaf(2, {{200, chatMessageCell(40, imessage)}});
  RecordList<MzChatMessageNode> live = {std::make_shared<MzChatMessageNode>()};
  live[0]->rowid = 5;
  live[0]->phoneValue = "anna@example.com";
  const Carved r = carve(image.database(), carve::DelMessageLayout::Chat, live);
  ASSERT_EQ(r.chats.size(), 1u);
  ASSERT_EQ(r.posted.size(), 1u);
  EXPECT_TRUE(r.posted[0]->bImessage);
  EXPECT_EQ(r.posted[0]->messagePhone, "anna@example.com");
}

// ---- Older layouts ---------------------------------------------------------------------------

// The 33 columns of the iOS 5 message table (fresh order), an SMS row.
Bytes8 smsCell(std::uint64_t rowid, const std::string& address, const std::string& body,
               std::int64_t flags, std::int64_t date = 1355000000) {
  std::vector<Column> c = {null(),     text(address), integer(date), text(body), integer(flags),
                           integer(0), null(),        integer(3),    integer(0), integer(0),
                           integer(0), integer(0),    null(),        text("se"), null(),
                           null(),     integer(1)};
  while (c.size() < 33) c.push_back(c.size() == 30 ? integer(0) : null());
  return cell(rowid, c);
}

// An iOS 5 iMessage row without a group: address NULL, the handle in madrid_handle.
Bytes8 madridCell(std::uint64_t rowid, const std::string& handle, const std::string& body) {
  std::vector<Column> c(33, integer(0));
  c[0] = null();
  c[1] = null();
  c[2] = integer(389000000);
  c[3] = text(body);
  c[6] = null();
  c[12] = null();
  c[13] = null();
  c[14] = null();
  c[15] = null();
  c[17] = blob(200);  // madrid_attributedBody
  c[18] = text(handle);
  for (std::size_t i = 19; i < 30; ++i) c[i] = i == 20 || i == 23 ? text("x") : null();
  c[30] = integer(1);
  return cell(rowid, c);
}

TEST(DeletedMessagesScanner, LegacyLayoutReadsFlagsAndLongTexts) {
  Image image(4096, 2, 1);
  const std::string longText =
      "The train is cancelled, I'll take the next one at 18:42. Sorry!";  // 63 bytes
  image.leaf(1, {{100, smsCell(1, "+46705551234", "Hej", 2)}},
             {{600, smsCell(2, "+46705551234", longText, 3)},
              {1100, smsCell(3, "+46705551234", "Sent later", 16387)},
              {1600, smsCell(4, "+46705551234", "Odd flags", 4)}});
  const Carved r = carve(image.database(), carve::DelMessageLayout::Legacy);
  ASSERT_EQ(r.posted.size(), 4u);
  EXPECT_EQ(withText(r.posted, "Hej")->messageType, "Received");
  const MzMessageNode* m = withText(r.posted, longText);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->messageType, "Send");
  EXPECT_EQ(m->messagePhone, "+46705551234");
  EXPECT_EQ(m->messageName, std::optional<std::string>("Emma Berg"));
  EXPECT_EQ(m->messageDate, dateText(1355000000, 0));
  EXPECT_EQ(withText(r.posted, "Sent later")->messageType, "Send");
  EXPECT_EQ(withText(r.posted, "Odd flags")->messageType, "unknown");
  EXPECT_TRUE(r.chats.empty());
  EXPECT_TRUE(r.messages.empty());
}

TEST(DeletedMessagesScanner, WalLayoutDropsEmptyIMessageFormsNearAnSms) {
  Image image(4096, 3);
  // Page 1: an SMS, then an iMessage record without handle and flags 150 bytes after it
  // (dropped) and another 600 bytes after it (kept).
  image.leaf(1, {{100, smsCell(1, "+46705551234", "Hej", 2)}},
             {{250, madridCell(2, "", "Too close")}, {700, madridCell(3, "", "Far enough")}});
  // Page 2: an iMessage with its handle, and a received SMS that must not be read as one.
  image.leaf(2, {{100, smsCell(4, "+46709990000", "Plain SMS", 2)}},
             {{600, madridCell(5, "anna@example.com", "Landed!")}});
  const Carved r = carve(image.database(), carve::DelMessageLayout::WalForms);
  // Two SMS, two iMessages: a received SMS has the iMessage form's run of bytes too, but is
  // no iMessage (its address is not NULL), so it is not read a second time with the wrong
  // column positions.
  EXPECT_EQ(r.posted.size(), 4u);
  EXPECT_EQ(withText(r.posted, "Too close"), nullptr);
  const MzMessageNode* far = withText(r.posted, "Far enough");
  ASSERT_NE(far, nullptr);
  EXPECT_TRUE(far->bImessage);
  EXPECT_EQ(far->messageType, "unknown");
  const MzMessageNode* landed = withText(r.posted, "Landed!");
  ASSERT_NE(landed, nullptr);
  EXPECT_EQ(landed->messagePhone, "anna@example.com");
  EXPECT_EQ(landed->messageDate, dateText(389000000, 0));
  int plain = 0;
  for (const auto& m : r.posted) plain += m->messageContent == "Plain SMS";
  EXPECT_EQ(plain, 1);  // once, as an SMS
  EXPECT_FALSE(withText(r.posted, "Plain SMS")->bImessage);
}

TEST(DeletedMessagesScanner, HostileImagesEndQuietly) {
  for (std::size_t pageSize : {0, 1, 512}) {
    Image image(512, 3);
    image.bytes()[16] = static_cast<std::uint8_t>(pageSize >> 8);
    image.bytes()[17] = static_cast<std::uint8_t>(pageSize);
    image.leaf(1, {{500, handleCell(5, "+46705551234")}});  // runs past the page
    image.bytes()[512 + 8] = 0xFF;                          // cell pointer past the page
    image.bytes()[512 + 9] = 0xF0;
    for (auto layout : {carve::DelMessageLayout::Chat, carve::DelMessageLayout::WalForms,
                        carve::DelMessageLayout::Legacy}) {
      const Carved r = carve(image.database(), layout);
      for (const auto& m : r.posted) EXPECT_NE(m, nullptr);
    }
  }
  Image onePage(4096, 1);
  EXPECT_TRUE(carve(onePage.database(), carve::DelMessageLayout::Chat).posted.empty());
  Bytes8 truncated(onePage.bytes().begin(), onePage.bytes().begin() + 100);
  EXPECT_TRUE(
      carve(CarveDatabase::fromImage(DatabaseImage(truncated)), carve::DelMessageLayout::Legacy)
          .posted.empty());
}

// ---- The step --------------------------------------------------------------------------------

struct StepRun {
  MessageList posted;
  std::vector<std::int32_t> progress;
};

void observe(StepHarness& harness, StepRun& run) {
  harness.center.addObserver("ScanDelMessageInfo", [&run](const std::any& o) {
    run.posted.push_back(std::any_cast<std::shared_ptr<MzMessageNode>>(o));
  });
  harness.center.addObserver("ScanProgressInfo", [&run](const std::any& o) {
    run.progress.push_back(std::any_cast<std::int32_t>(o));
  });
}

TEST(DeletedMessagesScanner, StepLogsAMissingDatabaseAndPostsNothing) {
  TempDir temp;
  StepHarness harness(temp.path());
  StepRun run;
  observe(harness, run);
  harness.run(scanDelMessageThread);
  EXPECT_TRUE(run.posted.empty());
  EXPECT_TRUE(run.progress.empty());
  ASSERT_EQ(harness.logged.size(), 1u);
  EXPECT_EQ(harness.logged[0], "messageDB is not exist");
}

TEST(DeletedMessagesScanner, StepOnAOnePageDatabasePostsOnlyProgress) {
  TempDir temp;
  Image image(4096, 1);
  ASSERT_TRUE(fixtures::writeFileBytes(temp.sub(devicedb::kMessagesKey), image.bytes()));
  StepHarness harness(temp.path());
  StepRun run;
  observe(harness, run);
  harness.run(scanDelMessageThread, true);
  EXPECT_TRUE(run.posted.empty());
  EXPECT_EQ(run.progress, std::vector<std::int32_t>{80});
}

// The private copy is switched to write-ahead logging when its log is folded in; the layout
// still follows the journal the device wrote, and the backup folder is left as it was.
TEST(DeletedMessagesScanner, StepChoosesTheOlderLayoutByTheDevicesJournal) {
  for (const char* journal : {"legacy", "wal"}) {
    TempDir temp;
    const std::string folder = temp.sub("backup");
    nlohmann::json description = fixtures::sampleDescription();
    description["databases"]["sms"] = {{"journal", journal}};
    fixtures::BackupBuildOptions options;
    options.generation = 5;
    options.truthPath = temp.sub("truth.json");
    std::string error;
    ASSERT_TRUE(fixtures::buildBackup(description, folder, options, nullptr, &error)) << error;
    const auto before = folderFingerprint(folder);

    StepHarness harness(folder);
    harness.readIndex();
    StepRun run;
    observe(harness, run);
    harness.run(scanDelMessageThread, false);
    EXPECT_EQ(run.progress, std::vector<std::int32_t>{80});
    EXPECT_EQ(folderFingerprint(folder), before) << journal;

    const std::string stored = folder + "/" + devicedb::kMessagesKey;
    const auto copy = harness.databases.preparedCopy(stored);
    ASSERT_TRUE(copy) << journal;
    auto image = DatabaseImage::load(*copy);
    ASSERT_TRUE(image);
    const CarveDatabase db = CarveDatabase::fromImage(std::move(*image));
    EXPECT_TRUE(db.isWalFile()) << journal;
    const auto expected = std::string(journal) == "wal" ? carve::DelMessageLayout::WalForms
                                                        : carve::DelMessageLayout::Legacy;
    const Carved direct = carve(db, expected);
    // The schema carver's records follow the signature carver's.
    std::erase_if(run.posted, [](const std::shared_ptr<MzMessageNode>& m) {
      return m->origin.place != RecordOrigin::Place::RecordSignature;
    });
    ASSERT_EQ(run.posted.size(), direct.posted.size()) << journal;
    for (std::size_t i = 0; i < run.posted.size(); ++i) {
      EXPECT_EQ(run.posted[i]->messageContent, direct.posted[i]->messageContent);
    }
  }
}

}  // namespace
