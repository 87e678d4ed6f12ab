#include "extract/messages_scanner.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "base/conversions.h"
#include "catalogue/device_controller.h"
#include "catalogue/manifest_reader.h"
#include "catalogue/stored_file.h"
#include "extract/contacts_scanner.h"
#include "extract/device_databases.h"
#include "extract/message_attachments.h"
#include "extract/phone_names.h"
#include "fixture_support.h"
#include "messages_volume.h"
#include "results/conversation_grouping.h"
#include "sample_backup.h"
#include "support/folder_hash.h"
#include "support/temp_dir.h"
#include "support/typedstream_blob.h"

namespace {

using nlohmann::json;
using MessageList = std::vector<std::shared_ptr<MzMessageNode>>;

struct MessagesRun {
  MessageList posted;
  std::vector<std::int32_t> progress;
  ScanLists lists;
};

// Runs the messages step with the OS flag `iOS6Flag`, after `prepare` has filled the lists
// the earlier steps leave (file index, contacts).
MessagesRun runMessagesStep(const std::string& folder, bool iOS6Flag,
                            const std::function<void(ScanLists&)>& prepare = {}) {
  MessagesRun r;
  NotificationCenter center;
  center.addObserver("ScanMessageInfo", [&](const std::any& o) {
    r.posted.push_back(std::any_cast<std::shared_ptr<MzMessageNode>>(o));
  });
  DatabasePreparer databases(folder);
  ScanContext context{folder, center, r.lists, databases, iOS6Flag};
  if (prepare) prepare(r.lists);
  center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    r.progress.push_back(std::any_cast<std::int32_t>(o));
  });
  scanMessageThread(context);
  return r;
}

// The file index and the contacts of a built backup, as the scan has them before this step.
void runEarlierSteps(const std::string& folder, ScanLists& lists) {
  NotificationCenter quiet;
  ManifestReadOptions options;
  options.nc = &quiet;
  options.bIOSRecoveryMode = true;
  scanDirAnalyThread(folder, lists.treeFileArray, options);
  DatabasePreparer databases(folder);
  ScanContext context{folder, quiet, lists, databases};
  scanContactThread(context);
}

fixtures::BackupBuildResult buildSample(const std::string& folder, int generation,
                                        const std::function<void(json&)>& change = {}) {
  json description = fixtures::sampleDescription();
  if (change) change(description);
  fixtures::BackupBuildOptions options;
  options.generation = generation;
  fixtures::BackupBuildResult built;
  std::string error;
  EXPECT_TRUE(fixtures::buildBackup(description, folder, options, &built, &error)) << error;
  return built;
}

const MzContactNode* contactOf(const ScanLists& lists, const std::string& name) {
  for (const auto& c : lists.contactArray) {
    if (c->contactName == name) return c.get();
  }
  return nullptr;
}

// Compares every posted message with the builder's truth for its generation: one message
// per live row, in row order, none of the deleted ones.
void expectTruth(const MessagesRun& r, const fixtures::BackupBuildResult& built, int generation) {
  std::vector<json> live;
  for (const json& m : built.truth["messages"]) {
    if (!m.value("deleted", false)) live.push_back(m);
  }
  ASSERT_EQ(r.posted.size(), live.size());
  ASSERT_GT(live.size(), 8u);
  bool sawAttachment = false;
  for (std::size_t i = 0; i < live.size(); ++i) {
    const json& truth = live[i];
    const MzMessageNode& m = *r.posted[i];
    SCOPED_TRACE(truth.dump());
    const bool fromMe = truth["is_from_me"].get<bool>();
    const bool iMessage = truth["service"] == "iMessage";
    EXPECT_EQ(m.messageContent, truth["text"].get<std::string>());
    EXPECT_EQ(m.messagePhone, truth["address"].get<std::string>());
    EXPECT_EQ(m.messageDate, fixtures::formatUtcDateText(truth["date_unix"].get<double>()));
    Bytes expectedPicture;
    EXPECT_EQ(m.messageName,
              getNameByPhoneNumberWithData(m.messagePhone, r.lists.contactArray, expectedPicture));
    EXPECT_EQ(m.contactImageData, expectedPicture);
    EXPECT_FALSE(m.bDeleted);
    EXPECT_EQ(m.origin, RecordOrigin::live("sms.db", "message", truth["rowid"]));
    if (generation == 5) {
      // The older layout: no row id, no attachments, the direction from the flags, where
      // the iMessage flags read as unknown.
      EXPECT_EQ(m.rowId, -1);
      EXPECT_EQ(m.bImessage, iMessage);
      EXPECT_EQ(m.messageType, iMessage ? "unknown" : fromMe ? "Send" : "Received");
      EXPECT_FALSE(m.isHasAttach);
      EXPECT_FALSE(m.attachmentPath);
      continue;
    }
    EXPECT_EQ(m.rowId, truth["rowid"].get<int>());
    EXPECT_FALSE(m.bImessage);  // the texts of this layout select no service column
    EXPECT_EQ(m.messageType, fromMe ? "Send" : "Received");
    if (truth.contains("attachment")) {
      sawAttachment = true;
      const json& a = truth["attachment"];
      EXPECT_TRUE(m.isHasAttach);
      EXPECT_EQ(m.attachType, "Image");
      EXPECT_EQ(m.attachmentPath,
                storedFilePath(built.backupFolder, fileKeyFor(a["domain"].get<std::string>(),
                                                              a["path"].get<std::string>())));
      ASSERT_TRUE(m.attachmentPath);
      EXPECT_TRUE(std::filesystem::is_regular_file(*m.attachmentPath));
    } else {
      EXPECT_FALSE(m.attachmentPath);
      EXPECT_FALSE(m.attachType);
    }
  }
  if (generation != 5) {
    EXPECT_TRUE(sawAttachment);
  }
}

class MessagesOfEveryGeneration : public testing::TestWithParam<int> {};

TEST_P(MessagesOfEveryGeneration, EveryLiveMessageWithItsFieldsAgainstTheTruth) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  const int generation = GetParam();
  auto built = buildSample(tmp.sub("Backup/b"), generation);
  bool iOS7 = false;
  const bool flag = IOSVersionIOS6(built.truth["device"]["ios_version"].get<std::string>(), iOS7);
  EXPECT_EQ(flag, generation != 5);
  MessagesRun r = runMessagesStep(built.backupFolder, flag,
                                  [&](ScanLists& l) { runEarlierSteps(built.backupFolder, l); });
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{50});
  expectTruth(r, built, generation);

  // Names and pictures: Anna has a picture, the iMessage address is no contact's number.
  const MzContactNode* anna = contactOf(r.lists, "Anna Berg");
  ASSERT_NE(anna, nullptr);
  ASSERT_TRUE(anna->imageData);
  bool sawAnna = false, sawHandle = false;
  for (const auto& m : r.posted) {
    if (m->messagePhone == "+46705551234") {
      sawAnna = true;
      EXPECT_EQ(m->messageName, "Anna Berg");
      EXPECT_EQ(m->contactImageData, anna->imageData);
    }
    if (m->messagePhone == "johan.lindqvist@example.com") {
      sawHandle = true;
      EXPECT_EQ(m->messageName, std::nullopt);
      EXPECT_FALSE(m->contactImageData);
    }
  }
  EXPECT_TRUE(sawAnna && sawHandle);
  EXPECT_FALSE(r.lists.messageContactData);

  if (generation == 5) {
    EXPECT_TRUE(r.lists.chatMessageArray.empty());
    EXPECT_TRUE(r.lists.meesageAttachArray.empty());
  } else {
    // Every live handle is left for the deleted-message carver.
    std::set<std::string> handles;
    for (const auto& h : r.lists.chatMessageArray) handles.insert(h->phoneValue);
    EXPECT_TRUE(handles.count("+46705551234"));
    EXPECT_TRUE(handles.count("johan.lindqvist@example.com"));
    EXPECT_TRUE(handles.count("+46765554421"));
    EXPECT_FALSE(r.lists.meesageAttachArray.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Generations, MessagesOfEveryGeneration, testing::Values(5, 6, 7));

// The reading of a current database against the builder's truth, message by message: an
// iOS 17 backup of about 10,000 messages in chats and groups, with every kind of attachment,
// tapbacks and their removals, stickers, edits, unsends, replies and texts only in the
// archived body.
TEST(MessagesStep, AnIOS17DatabaseOfTenThousandMessagesAgainstTheTruth) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  fixtures::MessagesVolumeOptions volume = fixtures::currentMessagesVolume(420, 25);
  volume.deletedShare = 0.05;  // the carver's business; here the live rows count
  volume.deletedConversationShare = 0.01;
  const json description = fixtures::withMessagesVolume(fixtures::sampleDescription(), volume);
  const fixtures::BackupBuildOptions options = fixtures::currentDeviceBackup();
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildBackup(description, tmp.sub("Backup/b"), options, &built, &error))
      << error;
  MessagesRun r = runMessagesStep(built.backupFolder, true,
                                  [&](ScanLists& l) { runEarlierSteps(built.backupFolder, l); });
  std::map<std::int64_t, const MzMessageNode*> byRow;
  for (const auto& m : r.posted) byRow[m->rowId] = m.get();
  std::map<std::string, const json*> byGuid;
  for (const json& m : built.truth["messages"]) byGuid[m["guid"]] = &m;

  const std::map<std::string, std::string> kinds = {
      {"love", "Loved"},    {"like", "Liked"},           {"dislike", "Disliked"},
      {"laugh", "Laughed"}, {"emphasize", "Emphasized"}, {"question", "Questioned"}};
  const std::map<std::string, std::string> kindOfMime = {
      {"image/jpeg", "Image"},          {"image/png", "Image"},     {"image/heic", "Image"},
      {"video/quicktime", "Mov"},       {"video/mp4", "Mov"},       {"audio/x-caf", "Audio"},
      {"audio/x-m4a", "Audio"},         {"audio/amr", "Audio"},     {"text/vcard", "Contact"},
      {"text/x-vlocation", "Location"}, {"application/pdf", "PDF"}, {"application/zip", "File"}};
  const auto dateOf = [](const json& unix) {
    return unix.is_null() ? std::string() : fixtures::formatUtcDateText(unix.get<double>());
  };
  std::size_t live = 0, groups = 0, attachments = 0, missing = 0, reactions = 0, edited = 0,
              unsent = 0, replies = 0, bodyOnly = 0;
  std::set<std::int64_t> chats;
  for (const json& truth : built.truth["messages"]) {
    if (truth["deleted"].get<bool>()) continue;
    ++live;
    SCOPED_TRACE(truth.dump());
    const auto found = byRow.find(truth["rowid"].get<std::int64_t>());
    ASSERT_NE(found, byRow.end());
    const MzMessageNode& m = *found->second;
    const bool fromMe = truth["is_from_me"].get<bool>();
    EXPECT_EQ(m.origin, RecordOrigin::live("sms.db", "message", truth["rowid"]));
    EXPECT_EQ(m.messageContent, truth["text"].get<std::string>());
    EXPECT_EQ(m.messageDate, dateOf(truth["date_unix"]));
    EXPECT_EQ(m.readDate, dateOf(truth["date_read_unix"]));
    EXPECT_EQ(m.deliveredDate, dateOf(truth["date_delivered_unix"]));
    EXPECT_EQ(m.service, truth["service"].get<std::string>());
    EXPECT_EQ(m.bImessage, truth["service"] == "iMessage");
    EXPECT_EQ(m.messageType, fromMe ? "Send" : "Received");
    const std::string from = truth["from"];
    EXPECT_EQ(m.sender, fromMe ? std::string("Me")
                               : getNameByPhoneNumber(from, r.lists.contactArray).value_or(from));
    ASSERT_NE(m.chat, nullptr);
    EXPECT_EQ(m.chat->rowId, truth["chat_id"].get<std::int64_t>());
    EXPECT_EQ(m.chat->participants, truth["participants"].get<std::vector<std::string>>());
    chats.insert(m.chat->rowId);
    if (m.chat->group) {
      ++groups;
      std::string name;
      for (const auto& address : m.chat->participants) {
        if (!name.empty()) name += ", ";
        name += getNameByPhoneNumber(address, r.lists.contactArray).value_or(address);
      }
      EXPECT_EQ(m.chat->name, truth["chat_display_name"].is_string()
                                  ? truth["chat_display_name"].get<std::string>()
                                  : name);
    }
    bodyOnly += truth["body_only"].get<bool>() ? 1 : 0;

    const json& files = truth["attachments"];
    ASSERT_EQ(m.attachments.size(), files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
      const MzMessageAttachment& a = m.attachments[i];
      ++attachments;
      EXPECT_EQ(a.name, files[i]["name"].get<std::string>());
      EXPECT_EQ(a.mimeType, files[i]["mime_type"].get<std::string>());
      EXPECT_EQ(a.storedPath.has_value(), files[i]["stored"].get<bool>());
      EXPECT_TRUE(!a.storedPath || std::filesystem::is_regular_file(*a.storedPath));
      missing += a.storedPath ? 0 : 1;
      EXPECT_EQ(a.kind, kindOfMime.at(a.mimeType)) << a.mimeType;
    }

    // One tapback per person and message: each sender's last one stands unless taken back.
    std::map<std::string, const json*> lastBySender;
    for (const json& reaction : truth["reactions"]) lastBySender[reaction["from"]] = &reaction;
    std::multiset<std::string> expected, got;
    for (const auto& [sender, reaction] : lastBySender) {
      if (!(*reaction)["removed"].get<bool>()) expected.insert(kinds.at((*reaction)["type"]));
    }
    if (truth.contains("sticker")) expected.insert("Sticker");
    for (const auto& reaction : m.reactions) {
      got.insert(reaction.kind);
      EXPECT_TRUE(reaction.kind != "Sticker" || reaction.stickerPath.has_value());
    }
    EXPECT_EQ(got, expected);
    reactions += got.size();

    EXPECT_EQ(m.edited, truth["edited"].get<bool>());
    EXPECT_EQ(m.unsent, truth["unsent"].get<bool>());
    if (m.edited) {
      EXPECT_EQ(m.previousTexts, truth["previous_texts"].get<std::vector<std::string>>());
    }
    edited += m.edited ? 1 : 0;
    unsent += m.unsent ? 1 : 0;
    const json* original =
        truth["reply_to_guid"].is_string() ? byGuid.at(truth["reply_to_guid"]) : nullptr;
    if (original != nullptr && !(*original)["deleted"].get<bool>()) {
      ++replies;
      const std::string text = (*original)["text"];
      ASSERT_TRUE(m.replyTo.has_value());
      EXPECT_EQ(m.replyTo->substr(0, 40), text.substr(0, 40));
    } else {
      EXPECT_FALSE(m.replyTo.has_value());
    }
  }
  // Tapback and sticker rows are no messages of their own.
  EXPECT_EQ(r.posted.size(), live);
  EXPECT_GT(live, 9500u);
  for (std::size_t n :
       {groups, attachments, missing, reactions, edited, unsent, replies, bodyOnly}) {
    EXPECT_GT(n, 0u);
  }
  ConversationList conversations;
  for (const auto& m : r.posted) groupLiveMessage(conversations, m);
  EXPECT_EQ(conversations.size(), chats.size());
}

TEST(MessagesStep, AnUpgradedIOS5MessageTableReadsTheSame) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  auto built = buildSample(tmp.sub("Backup/b"), 5,
                           [](json& d) { d["databases"]["sms"]["message_layout"] = "upgraded"; });
  MessagesRun r = runMessagesStep(built.backupFolder, false,
                                  [&](ScanLists& l) { runEarlierSteps(built.backupFolder, l); });
  expectTruth(r, built, 5);
}

TEST(MessagesStep, AnIOS8BackupWithTheIOS6LayoutGivesItsMessages) {
  ScopedEnv tz("TZ", "UTC");
  TempDir tmp;
  auto built = buildSample(tmp.sub("Backup/b"), 7);
  bool iOS7 = false;
  const bool flag = IOSVersionIOS6(std::string("8.1"), iOS7);
  ASSERT_FALSE(flag);
  const auto before = folderFingerprint(built.backupFolder);
  MessagesRun r = runMessagesStep(built.backupFolder, flag,
                                  [&](ScanLists& l) { runEarlierSteps(built.backupFolder, l); });
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{50});
  expectTruth(r, built, 7);
  EXPECT_FALSE(r.lists.chatMessageArray.empty());
  EXPECT_EQ(folderFingerprint(built.backupFolder), before);
}

// ---------------------------------------------------------------------------------------
// Small databases with the columns the texts read.

void execAll(const std::string& path, const std::vector<std::string>& statements) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  for (const auto& s : statements) {
    ASSERT_EQ(sqlite3_exec(db, s.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << s;
  }
  sqlite3_close(db);
}

const char* kChatSchema =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, text TEXT, handle_id "
    "INTEGER DEFAULT 0, date INTEGER, is_from_me INTEGER DEFAULT 0, cache_has_attachments "
    "INTEGER DEFAULT 0);"
    "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL);"
    "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, filename TEXT);"
    "CREATE TABLE message_attachment_join (message_id INTEGER, attachment_id INTEGER);";

std::shared_ptr<MzContactNode> contact(const std::string& name, const std::string& phones,
                                       Bytes picture = nullptr) {
  auto c = std::make_shared<MzContactNode>();
  c->contactName = name;
  c->contactPhone = phones;
  c->imageData = std::move(picture);
  return c;
}

std::shared_ptr<MzTreeDirNode> indexRecord(const std::string& domain, const std::string& path,
                                           const std::string& key) {
  auto r = std::make_shared<MzTreeDirNode>();
  r->fileDomain = domain;
  r->filePath = path;
  r->fileKey = key;
  return r;
}

TEST(MessagesStep, DirectionsAttachmentsAndPicturesOfTheIOS6Layout) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  execAll(backup.sub(devicedb::kMessagesKey),
          {kChatSchema, "INSERT INTO handle VALUES(1, '+46 70 555 12 34')",
           "INSERT INTO handle VALUES(2, '+46 99 999 99 99')",
           // date 0 of 2001 reads before 1990 and so counts from 2001
           "INSERT INTO message VALUES(1, 'hello', 1, 0, 0, 0)",
           "INSERT INTO message VALUES(2, 'sent', 1, 1262304000, 1, 1)",
           "INSERT INTO message VALUES(3, 'odd', 2, NULL, 2, 1)",
           "INSERT INTO message VALUES(4, 'card', 1, 10, 0, 1)",
           "INSERT INTO message VALUES(5, 'clip', 0, 10, 1, 1)",
           "INSERT INTO message VALUES(6, 'flag off', 1, 10, 0, 0)",
           "INSERT INTO attachment VALUES(10, '~/Library/SMS/Attachments/0a/10/IMG_0001.JPG')",
           "INSERT INTO attachment VALUES(11, '~/Library/SMS/Attachments/0b/11/second.mov')",
           "INSERT INTO attachment VALUES(12, '~/Library/SMS/Attachments/0c/12/Contact.vcf')",
           "INSERT INTO attachment VALUES(13, '~/Library/SMS/Attachments/0d/13/clip.3g2')",
           "INSERT INTO attachment VALUES(14, '~/Library/SMS/Attachments/0e/14/IMG_0002.JPG')",
           "INSERT INTO attachment VALUES(15, '~/')",
           "INSERT INTO message_attachment_join VALUES(2, 10)",
           "INSERT INTO message_attachment_join VALUES(2, 11)",
           "INSERT INTO message_attachment_join VALUES(4, 12)",
           "INSERT INTO message_attachment_join VALUES(5, 13)",
           "INSERT INTO message_attachment_join VALUES(6, 14)"});
  const Bytes annPicture = makeBytes({0xFF, 0xD8, 0xFF});
  const std::string jpgFile = backup.writeFile("jpgkey", "jpeg");
  MessagesRun r = runMessagesStep(backup.path(), true, [&](ScanLists& l) {
    l.contactArray.push_back(contact("Ann", " +46 70 555 12 34", annPicture));
    l.treeFileArray.push_back(indexRecord(
        "MediaDomain", "Library/SMS/Attachments/0a/10/IMG_0001.JPG", backup.sub("old")));
    l.treeFileArray.push_back(
        indexRecord("MediaDomain", "Library/SMS/Attachments/0a/10/IMG_0001.JPG", jpgFile));
  });
  ASSERT_EQ(r.posted.size(), 6u);
  const MzMessageNode &hello = *r.posted[0], &sent = *r.posted[1], &odd = *r.posted[2],
                      &card = *r.posted[3], &clip = *r.posted[4], &flagOff = *r.posted[5];
  EXPECT_EQ(hello.messageType, "Received");
  EXPECT_EQ(hello.messageDate, "01-01-2001 00:00");
  EXPECT_EQ(hello.messageName, "Ann");
  EXPECT_EQ(hello.contactImageData, annPicture);
  EXPECT_FALSE(hello.isHasAttach);

  EXPECT_EQ(sent.messageType, "Send");
  EXPECT_EQ(sent.messageDate, "01-01-2010 00:00");
  EXPECT_FALSE(sent.bImessage);
  // The first of two attachments is shown; the latest index record of its path is used.
  EXPECT_EQ(sent.attachType, "Image");
  EXPECT_EQ(sent.attachmentPath, jpgFile);

  // No contact: no name and no picture, though the message before had one.
  EXPECT_EQ(odd.messageType, "unknown");
  EXPECT_EQ(odd.messageDate, "");
  EXPECT_EQ(odd.messageName, std::nullopt);
  EXPECT_FALSE(odd.contactImageData);

  // A contact card is no picture of the sender, and nothing outside the backup is read.
  EXPECT_EQ(card.messageName, "Ann");
  EXPECT_EQ(card.attachType, "Contact");
  EXPECT_FALSE(card.attachmentPath);  // not in the index
  EXPECT_FALSE(card.contactImageData);

  // 3g2, the first entry of the video list; no handle: an empty address matches no one.
  EXPECT_EQ(clip.attachType, "Mov");
  EXPECT_EQ(clip.messagePhone, "");
  EXPECT_EQ(clip.messageName, std::nullopt);

  // An attachment row without the message's attachment flag is not looked at.
  EXPECT_FALSE(flagOff.attachType);

  ASSERT_EQ(r.lists.meesageAttachArray.size(), 6u);
  const MzMessageAttachNode& first = *r.lists.meesageAttachArray[0];
  EXPECT_EQ(first.messageId, 2);
  EXPECT_EQ(first.attachmentId, 10);
  EXPECT_EQ(first.attachpath, "Library/SMS/Attachments/0a/10/IMG_0001.JPG");
  EXPECT_FALSE(r.lists.meesageAttachArray[5]->attachpath);  // "~/" names no file
  EXPECT_EQ(r.lists.meesageAttachArray[5]->messageId, -1);  // no join row
  ASSERT_EQ(r.lists.chatMessageArray.size(), 2u);
  EXPECT_EQ(r.lists.chatMessageArray[1]->rowid, 2);
  EXPECT_EQ(r.lists.chatMessageArray[1]->phoneValue, "+46 99 999 99 99");
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{50});
}

const char* kMadridSchema =
    "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date "
    "INTEGER, text TEXT, flags INTEGER, svc_center TEXT, group_id INTEGER, association_id "
    "INTEGER, subject TEXT, madrid_handle TEXT, madrid_account TEXT, madrid_flags INTEGER, "
    "madrid_attachmentInfo BLOB, is_madrid INTEGER);"
    "CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, group_id INTEGER, "
    "address TEXT);";

// Hex of `bytes` for an SQL blob literal.
std::string hexOf(const std::vector<std::uint8_t>& bytes) {
  static const char* kDigits = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

TEST(MessagesStep, CurrentDatabasesGiveNanosecondDatesAndArchivedTexts) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  auto cut = typedstreamBlob("Cut short");
  cut.resize(cut.size() - 30);
  // 2023-06-01 12:00 UTC is 707,313,600 seconds after 2001.
  execAll(
      backup.sub(devicedb::kMessagesKey),
      {std::string(kChatSchema) + "ALTER TABLE message ADD COLUMN attributedBody BLOB;",
       "INSERT INTO handle VALUES(1, '+46 70 555 12 34')",
       "INSERT INTO message VALUES(1, 'plain', 1, 1262304000, 0, 0, NULL)",
       "INSERT INTO message VALUES(2, NULL, 1, 707313600000000000, 1, 0, X'" +
           hexOf(typedstreamBlob("Only in the archive \xEF\xBF\xBC")) + "')",
       "INSERT INTO message VALUES(3, '', 1, 707313600000000000, 0, 0, X'" + hexOf(cut) + "')"});
  MessagesRun r = runMessagesStep(backup.path(), true);
  ASSERT_EQ(r.posted.size(), 3u);
  EXPECT_EQ(r.posted[0]->messageContent, "plain");
  EXPECT_EQ(r.posted[0]->messageDate, "01-01-2010 00:00");  // seconds keep their rule
  EXPECT_EQ(r.posted[1]->messageContent, "Only in the archive \xEF\xBF\xBC");
  EXPECT_EQ(r.posted[1]->messageDate, "06-01-2023 12:00");
  EXPECT_EQ(r.posted[1]->messageType, "Send");
  EXPECT_EQ(r.posted[2]->messageContent, "");  // a damaged archive gives no invented text
  EXPECT_EQ(r.posted[2]->messageDate, "06-01-2023 12:00");

  // The unit goes by the value: the threshold itself is seconds, one more is nanoseconds.
  EXPECT_EQ(messageDateSeconds(kNanosecondDateThreshold), kNanosecondDateThreshold);
  EXPECT_EQ(messageDateSeconds(kNanosecondDateThreshold + 1), 100);
  EXPECT_EQ(messageDateSeconds(0), 0);
}

TEST(MessagesStep, FlagsAndIMessageColumnsOfTheOlderLayout) {
  TempDir backup;
  execAll(backup.sub(devicedb::kMessagesKey),
          {kMadridSchema, "INSERT INTO group_member VALUES(1, 1, '555-0100')",
           "INSERT INTO group_member VALUES(2, 2, 'ann@example.se')",
           "INSERT INTO message(ROWID, address, date, text, flags, group_id, is_madrid) "
           "VALUES(7, '555-0100', 1262304000, 'sent', 16387, 1, 0)",
           "INSERT INTO message(ROWID, address, date, text, flags, group_id, is_madrid) "
           "VALUES(8, '555-0100', 1262304000, 'in', 22, 1, 0)",
           "INSERT INTO message(ROWID, date, text, flags, group_id, is_madrid, madrid_handle, "
           "madrid_flags) VALUES(9, 300000000, 'imsg', 0, 2, 1, 'ann@example.se', 12289)",
           "INSERT INTO message(ROWID, date, text, flags, group_id, is_madrid, madrid_handle, "
           "madrid_flags, madrid_attachmentInfo) VALUES(10, 300000000, 'x', 0, 2, 1, "
           "'ann@example.se', 36869, X'6162006364')",
           "INSERT INTO message(ROWID, date, text, flags, group_id, is_madrid, madrid_handle, "
           "madrid_flags, madrid_attachmentInfo) VALUES(11, 300000000, 'kept text', 0, 2, 1, "
           "'ann@example.se', 36869, X'62706C697374303008A15F')"});
  MessagesRun r = runMessagesStep(backup.path(), false, [](ScanLists& l) {
    l.contactArray.push_back(contact("Ann", " ann@example.se"));
  });
  ASSERT_EQ(r.posted.size(), 5u);
  EXPECT_EQ(r.posted[0]->messageType, "Send");
  EXPECT_EQ(r.posted[0]->rowId, -1);
  EXPECT_FALSE(r.posted[0]->bImessage);
  EXPECT_EQ(r.posted[1]->messageType, "Received");
  const MzMessageNode& imsg = *r.posted[2];
  EXPECT_TRUE(imsg.bImessage);
  EXPECT_EQ(imsg.messageType, "unknown");
  EXPECT_EQ(imsg.messagePhone, "ann@example.se");
  EXPECT_EQ(imsg.messageName, "Ann");
  EXPECT_EQ(r.posted[3]->messageContent, "abcd");  // the zero byte is dropped
  // Attachment information that is not text does not wipe out the message's text.
  EXPECT_EQ(r.posted[4]->messageContent, "kept text");
  EXPECT_TRUE(r.lists.chatMessageArray.empty());
  EXPECT_EQ(r.progress, std::vector<std::int32_t>{50});

  // A message table without the iMessage columns is read by the second text.
  TempDir plain;
  execAll(plain.sub(devicedb::kMessagesKey),
          {"CREATE TABLE message (ROWID INTEGER PRIMARY KEY, address TEXT, date INTEGER, text "
           "TEXT, flags INTEGER, svc_center TEXT, group_id INTEGER, association_id INTEGER, "
           "subject TEXT);"
           "CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY, group_id INTEGER, address "
           "TEXT);",
           "INSERT INTO group_member VALUES(1, 1, '555-0100')",
           "INSERT INTO message VALUES(1, '555-0100', 1262304000, 'old', 3, NULL, 1, 0, NULL)"});
  MessagesRun older = runMessagesStep(plain.path(), false);
  ASSERT_EQ(older.posted.size(), 1u);
  EXPECT_EQ(older.posted[0]->messageContent, "old");
  EXPECT_EQ(older.posted[0]->messagePhone, "555-0100");
  EXPECT_EQ(older.posted[0]->messageType, "Send");
  EXPECT_FALSE(older.posted[0]->bImessage);
}

TEST(MessagesStep, TheGroupMemberTextOfTheNewerFlagIsReadByWhatItsColumnsHold) {
  ScopedEnv tz("TZ", "UTC");
  TempDir backup;
  execAll(backup.sub(devicedb::kMessagesKey),
          {"CREATE TABLE message (ROWID INTEGER PRIMARY KEY, cache_has_attachments INTEGER, "
           "group_id INTEGER, subject TEXT, text TEXT, date INTEGER, svc_center TEXT, flags "
           "INTEGER, association_id INTEGER);"
           "CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY, group_id INTEGER, address "
           "TEXT);",
           "INSERT INTO group_member VALUES(1, 4, '555-0100')",
           "INSERT INTO message VALUES(3, 0, 4, 'subject', 'body', 1262304000, NULL, 2, 0)"});
  MessagesRun r = runMessagesStep(backup.path(), true);
  ASSERT_EQ(r.posted.size(), 1u);
  EXPECT_EQ(r.posted[0]->rowId, 3);
  EXPECT_EQ(r.posted[0]->messageContent, "body");
  EXPECT_EQ(r.posted[0]->messageDate, "01-01-2010 00:00");
  EXPECT_EQ(r.posted[0]->messagePhone, "555-0100");
  EXPECT_EQ(r.posted[0]->messageType, "Received");
}

TEST(MessagesStep, MissingUnreadableAndForeignDatabases) {
  TempDir backup;
  MessagesRun missing = runMessagesStep(backup.path(), true);
  EXPECT_TRUE(missing.posted.empty());
  EXPECT_TRUE(missing.progress.empty());
  MessagesRun noFolder = runMessagesStep("", true);
  EXPECT_TRUE(noFolder.progress.empty());

  backup.writeFile(devicedb::kMessagesKey, std::string(8192, 'z'));
  for (bool flag : {true, false}) {
    MessagesRun junk = runMessagesStep(backup.path(), flag);
    EXPECT_TRUE(junk.posted.empty());
    EXPECT_EQ(junk.progress, std::vector<std::int32_t>{50});
  }

  // A database that none of the four texts fits: no messages, the step ends normally.
  TempDir other;
  execAll(other.sub(devicedb::kMessagesKey), {"CREATE TABLE message (ROWID INTEGER, body TEXT)",
                                              "INSERT INTO message VALUES(1, 'x')"});
  MessagesRun foreign = runMessagesStep(other.path(), false);
  EXPECT_TRUE(foreign.posted.empty());
  EXPECT_EQ(foreign.progress, std::vector<std::int32_t>{50});
}

TEST(MessagesStep, RowsOnlyInTheWriteAheadLogAreFoundAndTheBackupIsUntouched) {
  TempDir tmp, backup;
  const std::string live = tmp.sub("sms.db");
  execAll(live, {kChatSchema, "INSERT INTO handle VALUES(1, '555 0100')",
                 "INSERT INTO message VALUES(1, 'in the file', 1, 10, 0, 0)"});
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(live.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  sqlite3_wal_autocheckpoint(db, 0);
  sqlite3_exec(db,
               "INSERT INTO handle VALUES(2, '555 0199');"
               "INSERT INTO message VALUES(2, 'only in the log', 2, 20, 1, 0)",
               nullptr, nullptr, nullptr);
  std::filesystem::copy_file(live, backup.sub(devicedb::kMessagesKey));
  std::filesystem::copy_file(live + "-wal", backup.sub(devicedb::walKeyFor(devicedb::kMessages)));
  sqlite3_close(db);

  const auto before = folderFingerprint(backup.path());
  MessagesRun r = runMessagesStep(backup.path(), true);
  ASSERT_EQ(r.posted.size(), 2u);
  EXPECT_EQ(r.posted[1]->messageContent, "only in the log");
  EXPECT_EQ(r.posted[1]->messagePhone, "555 0199");
  ASSERT_EQ(r.lists.chatMessageArray.size(), 2u);
  EXPECT_EQ(folderFingerprint(backup.path()), before);
}

TEST(MessageAttachType, ByExtensionThenByCardName) {
  EXPECT_EQ(messageAttachType("Library/SMS/Attachments/0a/10/IMG_0001.JPG"), "Image");
  EXPECT_EQ(messageAttachType("a/photo.jpeg"), "Image");
  EXPECT_EQ(messageAttachType("a/clip.3g2"), "Mov");
  EXPECT_EQ(messageAttachType("a/voice.M4A"), "Mov");  // audio is typed as a movie
  EXPECT_EQ(messageAttachType("a/b/Contact.vcf"), "Contact");
  EXPECT_EQ(messageAttachType("a/Current Location.loc.vcf"), "Location");
  EXPECT_EQ(messageAttachType("a/other.vcf"), std::nullopt);
  EXPECT_EQ(messageAttachType("a/no-extension"), std::nullopt);
  EXPECT_EQ(messageAttachType("a.jpg/file"), std::nullopt);  // the folder's dot is no extension
}

}  // namespace
