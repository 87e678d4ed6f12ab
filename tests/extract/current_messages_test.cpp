#include "extract/current_messages.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "extract/message_attachments.h"
#include "extract/message_reactions.h"
#include "results/conversation_grouping.h"
#include "sms_parts.h"
#include "support/temp_dir.h"
#include "support/typedstream_blob.h"

namespace {

using Messages = std::vector<std::shared_ptr<MzMessageNode>>;

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string out = "X'";
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out + "'";
}

// message_summary_info as the device keeps it: the versions of an edited first part, or
// the parts that were unsent.
std::vector<std::uint8_t> summaryPlist(const std::vector<std::string>& versions, bool unsent) {
  if (unsent) return fixtures::unsentInfo();
  std::vector<std::pair<double, std::string>> dated;
  for (const auto& text : versions) dated.emplace_back(700000000.0, text);
  return fixtures::editHistoryInfo(dated);
}

// The tables of a current messages database with the columns the reader asks for, an
// unknown column of a later version, and without date_retracted (an optional column).
const char* kCurrentSchema =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, text TEXT, "
    "attributedBody BLOB, handle_id INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, "
    "date_delivered INTEGER, is_from_me INTEGER DEFAULT 0, service TEXT, cache_has_attachments "
    "INTEGER DEFAULT 0, item_type INTEGER DEFAULT 0, associated_message_guid TEXT, "
    "associated_message_type INTEGER DEFAULT 0, message_summary_info BLOB, date_edited INTEGER "
    "DEFAULT 0, thread_originator_guid TEXT, some_later_column BLOB);"
    "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT, service TEXT);"
    "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT, chat_identifier "
    "TEXT, service_name TEXT, display_name TEXT, room_name TEXT);"
    "CREATE TABLE chat_handle_join (chat_id INTEGER, handle_id INTEGER);"
    "CREATE TABLE chat_message_join (chat_id INTEGER, message_id INTEGER);"
    "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, filename TEXT, mime_type "
    "TEXT, uti TEXT, transfer_name TEXT, is_sticker INTEGER DEFAULT 0);"
    "CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER);";

// 2023-06-01 12:00 UTC in nanoseconds since 2001.
constexpr const char* kJune = "707313600000000000";

void execAll(const std::string& path, const std::vector<std::string>& statements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  for (const auto& s : statements) {
    ASSERT_EQ(sqlite3_exec(db, s.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << s;
  }
  sqlite3_close(db);
}

using Columns = std::vector<std::pair<std::string, std::string>>;

std::string message(int row, const std::string& guid, const std::string& text, int handle,
                    bool fromMe, const std::string& service, const Columns& extra = {}) {
  std::string names = "ROWID, guid, text, handle_id, date, is_from_me, service, item_type";
  std::string values = std::to_string(row) + ", '" + guid + "', " + text + ", " +
                       std::to_string(handle) + ", " + kJune + ", " + (fromMe ? "1" : "0") + ", '" +
                       service + "', 0";
  for (const auto& [name, value] : extra) {
    names += ", " + name;
    values += ", " + value;
  }
  return "INSERT INTO message (" + names + ") VALUES (" + values + ")";
}

std::string inChat(int chat, int row) {
  return "INSERT INTO chat_message_join VALUES (" + std::to_string(chat) + ", " +
         std::to_string(row) + ")";
}

std::shared_ptr<MzTreeDirNode> mediaFile(const std::string& path, const std::string& key) {
  auto r = std::make_shared<MzTreeDirNode>();
  r->fileDomain = "MediaDomain";
  r->filePath = path;
  r->fileKey = key;
  return r;
}

struct Read {
  CurrentMessages current;
  ConversationList conversations;
};

Read readAll(const std::string& path, const FileIndex& index) {
  auto anna = std::make_shared<MzContactNode>();
  anna->contactName = "Anna Berg";
  anna->contactPhone = " +46701111111";
  ScanLists lists;
  lists.contactArray.push_back(anna);
  NameLookup names(lists.contactArray);
  SqliteDatabase db = SqliteDatabase::openReadOnly(path);
  EXPECT_TRUE(hasCurrentMessageTable(db));
  Read r{readCurrentMessages(db, names, index, lists), {}};
  for (const auto& m : r.current.messages) groupLiveMessage(r.conversations, m);
  return r;
}

const MzMessageNode& byText(const Messages& messages, const std::string& text) {
  for (const auto& m : messages) {
    if (m->messageContent == text) return *m;
  }
  ADD_FAILURE() << "no message " << text;
  static const MzMessageNode none;
  return none;
}

TEST(CurrentMessages, ChatsSendersServicesDatesAndTexts) {
  ScopedEnv tz("TZ", "UTC");
  TempDir dir;
  const std::string path = dir.sub("sms.db");
  execAll(path,
          {kCurrentSchema,
           "INSERT INTO handle VALUES (1, '+46701111111', 'iMessage'), (2, '+46702222222', "
           "'iMessage'), (3, '+46701111111', 'SMS')",
           "INSERT INTO chat VALUES (1, 'iMessage;-;+46701111111', '+46701111111', 'iMessage', "
           "NULL, NULL), (2, 'SMS;-;+46701111111', '+46701111111', 'SMS', NULL, NULL), (3, "
           "'iMessage;+;chat1', 'chat1', 'iMessage', '', 'chat1'), (4, 'iMessage;+;chat2', "
           "'chat2', 'iMessage', 'Climbing', 'chat2'), (5, 'iMessage;-;x', 'x', 'iMessage', NULL, "
           "NULL)",
           "INSERT INTO chat_handle_join VALUES (1, 1), (2, 3), (3, 1), (3, 2), (4, 1), (4, 2)",
           message(1, "G1", "'Hi'", 1, false, "iMessage", {{"date_read", kJune}}),
           message(2, "G2", "NULL", 0, true, "iMessage",
                   {{"attributedBody", hexOf(typedstreamBlob("Answer"))}}),
           message(3, "G3", "'By SMS'", 3, false, "SMS"),
           message(4, "G4", "'Group hello'", 2, false, "iMessage"),
           message(5, "G5", "'Reply all'", 0, true, "iMessage"),
           message(6, "G6", "'Named group'", 1, false, "iMessage"),
           message(7, "G7", "'Orphan'", 0, false, "RCS"),
           message(8, "G8", "'No chat'", 2, false, "SMS"),
           // Seconds since 2001 (iOS 8 to 10) past 2021, which count from 1970 would put
           // in 1993.
           "UPDATE message SET date = 700000000 WHERE ROWID = 3",
           "UPDATE message SET date = 0 WHERE ROWID = 7",
           "UPDATE message SET date = 9000000000000000000 WHERE ROWID = 8",
           "UPDATE message SET date_delivered = " + std::string(kJune) + " WHERE ROWID = 2",
           "UPDATE message SET attributedBody = X'040B73747265616D' WHERE ROWID = 8",  // cut
           inChat(1, 1), inChat(1, 2), inChat(2, 3), inChat(3, 4), inChat(3, 5), inChat(4, 6),
           inChat(5, 7)});
  Read r = readAll(path, {});
  ASSERT_FALSE(r.current.readFailed);
  const Messages& m = r.current.messages;
  ASSERT_EQ(m.size(), 8u);

  EXPECT_EQ(m[0]->messageContent, "Hi");
  EXPECT_EQ(m[0]->service, "iMessage");
  EXPECT_TRUE(m[0]->bImessage);
  EXPECT_EQ(m[0]->messageDate, "06-01-2023 12:00");
  EXPECT_EQ(m[0]->readDate, "06-01-2023 12:00");
  EXPECT_EQ(m[0]->deliveredDate, "");
  EXPECT_EQ(m[0]->sender, "Anna Berg");
  EXPECT_EQ(m[0]->messageName, "Anna Berg");
  EXPECT_EQ(m[0]->messageType, "Received");
  // Sent in a one-to-one chat without a handle: the other party is the chat's.
  EXPECT_EQ(m[1]->messageContent, "Answer");
  EXPECT_EQ(m[1]->messagePhone, "+46701111111");
  EXPECT_EQ(m[1]->sender, "Me");
  EXPECT_EQ(m[1]->deliveredDate, "06-01-2023 12:00");
  EXPECT_EQ(m[2]->messageDate, "03-08-2023 20:26");
  EXPECT_FALSE(m[2]->bImessage);
  EXPECT_EQ(m[3]->sender, "+46702222222");
  EXPECT_EQ(m[4]->sender, "Me");
  EXPECT_EQ(m[4]->messagePhone, "");
  EXPECT_EQ(m[6]->service, "RCS");
  EXPECT_EQ(m[6]->messageDate, "");            // a date of 0 is none, not 2001-01-01
  EXPECT_FALSE(m[7]->messageDate.empty());     // far ahead, but what the row says
  EXPECT_EQ(m[7]->messageContent, "No chat");  // text wins; the cut body is never read
  EXPECT_EQ(m[7]->chat, nullptr);

  // One conversation per chat; the same person over SMS and iMessage stays apart; groups
  // are named by their display name or their participants.
  ASSERT_EQ(r.conversations.size(), 6u);
  EXPECT_EQ(r.conversations[0]->messageTreeNodeName, "Anna Berg");
  EXPECT_EQ(r.conversations[0]->MessageNodeArray->size(), 2u);
  EXPECT_EQ(r.conversations[1]->messageTreeNodeName, "Anna Berg");
  EXPECT_EQ(r.conversations[1]->chat->service, "SMS");
  EXPECT_EQ(r.conversations[2]->messageTreeNodeName, "Anna Berg, +46702222222");
  EXPECT_EQ(r.conversations[2]->messageTreeNodeAdress, "+46701111111, +46702222222");
  EXPECT_TRUE(r.conversations[2]->chat->group);
  EXPECT_EQ(r.conversations[2]->MessageNodeArray->size(), 2u);
  EXPECT_EQ(r.conversations[3]->messageTreeNodeName, "Climbing");
  EXPECT_EQ(r.conversations[4]->messageTreeNodeName, "");  // a chat with no handles
  EXPECT_EQ(r.conversations[4]->messageTreeNodeAdress, "x");
  EXPECT_EQ(r.conversations[5]->messageTreeNodeAdress, "+46702222222");
}

TEST(CurrentMessages, ReactionsEditsUnsendsRepliesAndAttachments) {
  ScopedEnv tz("TZ", "UTC");
  TempDir dir;
  const std::string path = dir.sub("sms.db");
  const std::string heic = "Library/SMS/Attachments/0a/01/AAA/IMG_0001.HEIC";
  execAll(
      path,
      {kCurrentSchema, "INSERT INTO handle VALUES (1, '+46701111111', 'iMessage')",
       "INSERT INTO chat VALUES (1, 'g', '+46701111111', 'iMessage', NULL, NULL)",
       "INSERT INTO chat_handle_join VALUES (1, 1)",
       message(1, "G1", "'Photos \xEF\xBF\xBC\xEF\xBF\xBC\xEF\xBF\xBC'", 1, false, "iMessage"),
       message(2, "G2", "'Final'", 0, true, "iMessage",
               {{"message_summary_info", hexOf(summaryPlist({"First", "Final"}, false))}}),
       message(3, "G3", "NULL", 0, true, "iMessage",
               {{"message_summary_info", hexOf(summaryPlist({}, true))}}),
       message(4, "G4", "'Answering'", 1, false, "iMessage", {{"thread_originator_guid", "'G2'"}}),
       // Tapbacks: Anna loves, then laughs at G2 (one per person: the laugh replaces the
       // love); I like G1 and take a love back that I never gave; a sticker on G1.
       message(5, "R1", "'Loved'", 1, false, "iMessage",
               {{"associated_message_guid", "'p:0/G2'"}, {"associated_message_type", "2000"}}),
       message(6, "R2", "'Laughed'", 1, false, "iMessage",
               {{"associated_message_guid", "'p:0/G2'"}, {"associated_message_type", "2003"}}),
       message(7, "R3", "'Liked'", 0, true, "iMessage",
               {{"associated_message_guid", "'p:0/G1'"}, {"associated_message_type", "2001"}}),
       message(8, "R4", "'Removed'", 0, true, "iMessage",
               {{"associated_message_guid", "'p:0/G1'"}, {"associated_message_type", "3000"}}),
       message(9, "R5", "'\xEF\xBF\xBC'", 1, false, "iMessage",
               {{"associated_message_guid", "'bp:G1'"}, {"associated_message_type", "1000"}}),
       message(10, "R6", "'Liked a vanished message'", 1, false, "iMessage",
               {{"associated_message_guid", "'p:0/GONE'"}, {"associated_message_type", "2001"}}),
       "UPDATE message SET date_edited = " + std::string(kJune) + " WHERE ROWID IN (2, 3)",
       "INSERT INTO attachment VALUES (1, '~/" + heic +
           "', 'image/heic', 'public.heic', "
           "'IMG_0001.HEIC', 0), (2, '/var/mobile/Library/SMS/Attachments/0b/02/BBB/Plan.pdf', "
           "'application/pdf', 'com.adobe.pdf', 'Plan.pdf', 0), (3, '/etc/passwd', NULL, NULL, "
           "NULL, 0), (4, '~/Library/SMS/StickerCache/s.heic', 'image/heic', 'public.heic', "
           "NULL, 1)",
       "INSERT INTO message_attachment_join VALUES (1, 1), (1, 2), (1, 3), (9, 4)", inChat(1, 1),
       inChat(1, 2), inChat(1, 3), inChat(1, 4)});
  FileIndex index = {mediaFile(heic, "/b/aa/heic"),
                     mediaFile("Library/SMS/StickerCache/s.heic", "/b/bb/sticker")};
  // The same path in another domain is not the attachment's file.
  index.push_back(mediaFile("Library/SMS/Attachments/0b/02/BBB/Plan.pdf", "/b/cc/pdf"));
  index.back()->fileDomain = "HomeDomain";
  Read r = readAll(path, index);
  const Messages& m = r.current.messages;
  ASSERT_EQ(m.size(), 4u);  // tapbacks and stickers are no messages of their own

  const MzMessageNode& photos = *m[0];
  ASSERT_EQ(photos.attachments.size(), 3u);
  EXPECT_EQ(photos.attachments[0].kind, "Image");
  EXPECT_EQ(photos.attachments[0].storedPath, "/b/aa/heic");
  EXPECT_EQ(photos.attachments[1].kind, "PDF");
  EXPECT_EQ(photos.attachments[1].storedPath, std::nullopt);  // missing, never an error
  EXPECT_EQ(photos.attachments[2].kind, "File");
  EXPECT_EQ(photos.attachments[2].storedPath, std::nullopt);  // outside MediaDomain
  EXPECT_EQ(photos.attachmentPath, "/b/aa/heic");
  EXPECT_EQ(photos.attachType, "Image");
  EXPECT_TRUE(photos.isHasAttach);
  ASSERT_EQ(photos.reactions.size(), 2u);
  EXPECT_EQ(photos.reactions[0].kind, "Liked");
  EXPECT_EQ(photos.reactions[0].sender, "Me");
  EXPECT_EQ(photos.reactions[1].kind, "Sticker");
  EXPECT_EQ(photos.reactions[1].stickerPath, "/b/bb/sticker");

  const MzMessageNode& edited = byText(m, "Final");
  EXPECT_TRUE(edited.edited);
  EXPECT_FALSE(edited.unsent);
  EXPECT_EQ(edited.previousTexts, std::vector<std::string>{"First"});
  ASSERT_EQ(edited.reactions.size(), 1u);
  EXPECT_EQ(edited.reactions[0].kind, "Laughed");
  EXPECT_EQ(edited.reactions[0].sender, "Anna Berg");
  EXPECT_TRUE(m[2]->unsent);
  EXPECT_FALSE(m[2]->edited);
  EXPECT_EQ(m[2]->messageContent, "");
  EXPECT_EQ(byText(m, "Answering").replyTo, "Final");
}

TEST(CurrentMessages, FoldingAndClassifyingRules) {
  EXPECT_EQ(reactionTargetGuid("p:2/ABC"), "ABC");
  EXPECT_EQ(reactionTargetGuid("bp:ABC"), "ABC");
  EXPECT_EQ(reactionTargetGuid("ABC"), "ABC");
  EXPECT_FALSE(isReactionType(0));
  EXPECT_FALSE(isReactionType(2008));
  EXPECT_TRUE(isReactionType(3007));
  // Removing one's tapback of the same kind takes it away; a new one of another person stays.
  std::vector<ReactionRow> rows(3);
  rows[0] = {"G", 2004, "a", {}};
  rows[1] = {"G", 2001, "b", {}};
  rows[2] = {"G", 3004, "a", {}};
  auto folded = foldReactions(rows);
  ASSERT_EQ(folded["G"].size(), 1u);
  EXPECT_EQ(folded["G"][0].kind, "Liked");

  EXPECT_EQ(attachmentKind("video/quicktime", "com.apple.quicktime-movie", "a.MOV"), "Mov");
  EXPECT_EQ(attachmentKind("", "com.apple.coreaudio-format", "Audio Message.caf"), "Audio");
  EXPECT_EQ(attachmentKind("text/vcard", "public.vcard", "Contact.vcf"), "Contact");
  EXPECT_EQ(attachmentKind("text/vcard", "public.vcard", "Current Location.loc.vcf"), "Location");
  EXPECT_EQ(attachmentKind("", "", "scan.pdf"), "PDF");
  EXPECT_EQ(attachmentKind("application/zip", "", "a.zip"), "File");
  EXPECT_EQ(mediaDomainPath("~/Library/SMS/a/b.jpg"), "Library/SMS/a/b.jpg");
  EXPECT_EQ(mediaDomainPath("/var/mobile/Library/SMS/a.jpg"), "Library/SMS/a.jpg");
  EXPECT_EQ(mediaDomainPath("~/Library/SMS/../../../etc/passwd"), std::nullopt);
  EXPECT_EQ(mediaDomainPath("/var/mobile/Media/DCIM/a.jpg"), std::nullopt);
  EXPECT_EQ(mediaDomainPath("Library/SMS/a.jpg"), std::nullopt);
}

}  // namespace
