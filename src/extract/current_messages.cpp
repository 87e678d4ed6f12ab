#include "extract/current_messages.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "base/conversions.h"
#include "extract/message_attachments.h"
#include "extract/message_direction.h"
#include "extract/message_edits.h"
#include "extract/message_reactions.h"
#include "extract/messages_scanner.h"
#include "extract/table_columns.h"
#include "extract/typedstream.h"

namespace {

std::optional<std::int64_t> presentInt(const SqliteStatement& row, int column) {
  if (row.columnIsNull(column)) return std::nullopt;
  return row.columnInt(column);
}

// A date of a current database. Seconds (iOS 8 to 10) and nanoseconds (iOS 11 and later)
// both count from 2001 here, so a date in seconds of 2021 or later keeps its year: the rule
// for older databases would read it as counting from 1970.
std::string messageDateText(DateTexts& dates, std::int64_t value) {
  return dates.text(messageDateSeconds(value), 1);
}

// A date column as text. 0 says there is none (a message not read, not delivered, or a
// date the device never wrote): it is shown as nothing rather than as 2001-01-01.
std::string eventDateText(DateTexts& dates, const SqliteStatement& row, int column) {
  const auto value = presentInt(row, column);
  if (!value || *value <= 0) return std::string();
  return messageDateText(dates, *value);
}

// The columns of the message text, in this order.
enum Column {
  kRowId,
  kGuid,
  kText,
  kBody,
  kDate,
  kDateRead,
  kDateDelivered,
  kFromMe,
  kService,
  kHasAttachments,
  kAssociatedGuid,
  kAssociatedType,
  kAssociatedEmoji,
  kSummary,
  kDateEdited,
  kDateRetracted,
  kThreadOriginator,
  kHandleAddress,
};

std::string messageQuery(const SqliteDatabase& db) {
  const ColumnSet m = columnSet(db, "message");
  if (m.empty()) return std::string();
  const bool handles = columnSet(db, "handle").contains("id");
  std::string sql = "select m.ROWID";
  for (const char* column :
       {"guid", "text", "attributedBody", "date", "date_read", "date_delivered", "is_from_me",
        "service", "cache_has_attachments", "associated_message_guid", "associated_message_type",
        "associated_message_emoji", "message_summary_info", "date_edited", "date_retracted",
        "thread_originator_guid"}) {
    sql += ",";
    sql += columnOrNull(m, "m", column);
  }
  sql += handles ? ",h.id from message m left join handle h on m.handle_id=h.ROWID"
                 : ",NULL from message m";
  return sql;
}

// The chats of the database by row id, each with its participants and name.
class Chats {
 public:
  Chats(const SqliteDatabase& db, const CurrentMessageQueries& queries, NameLookup& names) {
    if (queries.chats.empty()) return;
    std::unordered_map<std::int64_t, std::shared_ptr<MzChatInfo>> made;
    std::unordered_map<std::int64_t, std::string> displayNames;
    SqliteStatement rows = db.prepare(queries.chats);
    while (rows.step()) {
      auto info = std::make_shared<MzChatInfo>();
      info->rowId = rows.columnInt(0);
      info->identifier = rows.columnText(1).value_or(std::string());
      info->service = rows.columnText(2).value_or(std::string());
      info->group = rows.columnNonEmptyText(4).has_value();
      if (auto display = rows.columnNonEmptyText(3)) displayNames[info->rowId] = *display;
      made[info->rowId] = std::move(info);
    }
    SqliteStatement members = db.prepare(queries.chatMembers);
    while (members.step()) {
      auto it = made.find(members.columnInt(0));
      if (it == made.end()) continue;
      if (auto address = members.columnNonEmptyText(1)) {
        it->second->participants.push_back(std::move(*address));
      }
    }
    for (auto& [id, info] : made) {
      if (info->participants.size() > 1) info->group = true;
      if (auto display = displayNames.find(id); display != displayNames.end()) {
        info->name = display->second;
      } else {
        info->name = participantNames(*info, names);
      }
      chats_.emplace(id, std::move(info));
    }
    SqliteStatement joins = db.prepare(queries.chatMessages);
    while (joins.step()) {
      auto it = chats_.find(joins.columnInt(1));
      if (it != chats_.end()) chatOfMessage_.try_emplace(joins.columnInt(0), it->second);
    }
  }

  std::shared_ptr<const MzChatInfo> ofMessage(std::int64_t messageId) const {
    auto it = chatOfMessage_.find(messageId);
    return it == chatOfMessage_.end() ? nullptr : it->second;
  }

 private:
  // A group without a name is called by its participants: contact names where they match,
  // addresses elsewhere. A one-to-one chat by the other party's contact name, or nothing.
  static std::string participantNames(const MzChatInfo& chat, NameLookup& names) {
    if (!chat.group) {
      if (chat.participants.empty()) return std::string();
      return names.name(chat.participants.front()).value_or(std::string());
    }
    std::string joined;
    for (const auto& address : chat.participants) {
      if (!joined.empty()) joined += ", ";
      const std::optional<std::string> name = names.name(address);
      joined += name && !name->empty() ? *name : address;
    }
    return joined;
  }

  std::unordered_map<std::int64_t, std::shared_ptr<MzChatInfo>> chats_;
  std::unordered_map<std::int64_t, std::shared_ptr<MzChatInfo>> chatOfMessage_;
};

// The attachments of every message, their files looked up in MediaDomain.
class Attachments {
 public:
  Attachments(const SqliteDatabase& db, const CurrentMessageQueries& queries,
              const FileIndex& index) {
    if (queries.attachments.empty()) return;
    for (const auto& record : index) {
      if (record && record->fileDomain == "MediaDomain")
        mediaFiles_[record->filePath] = &record->fileKey;
    }
    SqliteStatement rows = db.prepare(queries.attachments);
    while (rows.step()) {
      MzMessageAttachment attachment;
      attachment.devicePath = rows.columnText(1).value_or(std::string());
      attachment.mimeType = rows.columnText(2).value_or(std::string());
      attachment.uti = rows.columnText(3).value_or(std::string());
      attachment.name = rows.columnNonEmptyText(4).value_or(
          std::string(lastPathComponentOf(attachment.devicePath)));
      attachment.sticker = presentInt(rows, 5).value_or(0) != 0;
      attachment.kind = attachmentKind(attachment.mimeType, attachment.uti, attachment.name);
      if (auto path = mediaDomainPath(attachment.devicePath)) {
        if (auto file = mediaFiles_.find(*path);
            file != mediaFiles_.end() && !file->second->empty()) {
          attachment.storedPath = *file->second;
        }
      }
      byMessage_[rows.columnInt(0)].push_back(std::move(attachment));
    }
  }

  std::vector<MzMessageAttachment> take(std::int64_t messageId) {
    auto it = byMessage_.find(messageId);
    if (it == byMessage_.end()) return {};
    std::vector<MzMessageAttachment> taken = std::move(it->second);
    byMessage_.erase(it);
    return taken;
  }

 private:
  static std::string_view lastPathComponentOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
  }

  std::unordered_map<std::string_view, const std::string*> mediaFiles_;
  std::unordered_map<std::int64_t, std::vector<MzMessageAttachment>> byMessage_;
};

// The name a sender shows under: "Me", the contact's name, or the address.
std::string senderName(bool fromMe, const std::optional<std::string>& name,
                       const std::string& address) {
  if (fromMe) return "Me";
  return name && !name->empty() ? *name : address;
}

// The first attachment in the fields older databases fill: its stored file and, for the
// kinds those name, its type.
void fillFirstAttachment(MzMessageNode& message) {
  if (message.attachments.empty()) return;
  const MzMessageAttachment& first = message.attachments.front();
  message.attachmentPath = first.storedPath;
  if (first.kind == "Image" || first.kind == "Mov" || first.kind == "Contact" ||
      first.kind == "Location") {
    message.attachType = first.kind;
  } else if (first.kind == "Audio") {
    message.attachType = "Mov";
  }
  if (first.kind == "Contact" || first.kind == "Location") message.contactImageData = nullptr;
}

constexpr std::size_t kReplyExcerpt = 80;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

std::string excerpt(const std::string& text) {
  if (text.size() <= kReplyExcerpt) return text;
  std::size_t cut = kReplyExcerpt;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut) + "…";
}

}  // namespace

CurrentMessageQueries currentMessageQueries(const SqliteDatabase& db) {
  CurrentMessageQueries queries;
  queries.messages = messageQuery(db);
  const ColumnSet chat = columnSet(db, "chat");
  if (!chat.empty()) {
    queries.chats = "select c.ROWID," + columnOrNull(chat, "c", "chat_identifier") + "," +
                    columnOrNull(chat, "c", "service_name") + "," +
                    columnOrNull(chat, "c", "display_name") + "," +
                    columnOrNull(chat, "c", "room_name") + " from chat c";
    queries.chatMembers =
        "select j.chat_id,h.id from chat_handle_join j join handle h on j.handle_id=h.ROWID "
        "order by j.rowid";
    queries.chatMessages = "select message_id,chat_id from chat_message_join";
  }
  const ColumnSet a = columnSet(db, "attachment");
  if (!a.empty() && !columnSet(db, "message_attachment_join").empty()) {
    queries.attachments =
        "select j.message_id," + columnOrNull(a, "a", "filename") + "," +
        columnOrNull(a, "a", "mime_type") + "," + columnOrNull(a, "a", "uti") + "," +
        columnOrNull(a, "a", "transfer_name") + "," + columnOrNull(a, "a", "is_sticker") +
        " from message_attachment_join j join attachment a on a.ROWID=j.attachment_id order by "
        "j.rowid";
  }
  return queries;
}

bool hasCurrentMessageTable(const SqliteDatabase& db) {
  return columnSet(db, "message").contains("item_type");
}

CurrentMessages readCurrentMessages(const SqliteDatabase& db, NameLookup& names,
                                    const FileIndex& index, ScanLists& lists) {
  CurrentMessages out;
  const CurrentMessageQueries queries = currentMessageQueries(db);
  Chats chats(db, queries, names);
  Attachments attachments(db, queries, index);
  DateTexts dates;
  std::vector<ReactionRow> reactions;
  std::vector<std::pair<std::size_t, std::string>> replies;  // message and its original's GUID
  std::vector<std::string> guids;                            // of every message, in order

  SqliteStatement rows = db.prepare(queries.messages);
  while (rows.step()) {
    const std::int64_t rowId = rows.columnInt(kRowId);
    const bool fromMe = presentInt(rows, kFromMe).value_or(0) != 0;
    const std::string address = rows.columnText(kHandleAddress).value_or(std::string());
    const std::int64_t associatedType = presentInt(rows, kAssociatedType).value_or(0);
    if (isReactionType(associatedType)) {
      ReactionRow reaction;
      reaction.targetGuid = std::string(reactionTargetGuid(rows.columnRawText(kAssociatedGuid)));
      reaction.type = associatedType;
      reaction.senderKey = fromMe ? std::string() : address;
      reaction.reaction.sender =
          senderName(fromMe, fromMe ? std::nullopt : names.name(address), address);
      reaction.reaction.date = eventDateText(dates, rows, kDate);
      reaction.reaction.emoji = rows.columnText(kAssociatedEmoji).value_or(std::string());
      for (const MzMessageAttachment& file : attachments.take(rowId)) {
        if (file.storedPath) reaction.reaction.stickerPath = file.storedPath;
      }
      reactions.push_back(std::move(reaction));
      continue;
    }

    auto message = std::make_shared<MzMessageNode>();
    message->rowId = static_cast<std::int32_t>(rowId);
    if (auto text = rows.columnNonEmptyText(kText)) {
      message->messageContent = std::move(*text);
    } else if (auto body = rows.columnRawBlob(kBody); !body.empty()) {
      if (auto text = attributedBodyText(body.data(), body.size())) {
        message->messageContent = std::move(*text);
      }
    }
    message->messageDate = eventDateText(dates, rows, kDate);
    message->readDate = eventDateText(dates, rows, kDateRead);
    message->deliveredDate = eventDateText(dates, rows, kDateDelivered);
    if (auto fromMeValue = presentInt(rows, kFromMe)) {
      message->messageType = messageDirectionOfFromMe(*fromMeValue);
    }
    message->service = rows.columnText(kService).value_or(std::string());
    message->bImessage = message->service == "iMessage";
    message->chat = chats.ofMessage(rowId);
    message->messagePhone = address;
    // A message the owner sent in a one-to-one chat may name no handle; its other party
    // is the chat's.
    if (message->messagePhone.empty() && message->chat && !message->chat->group &&
        !message->chat->participants.empty()) {
      message->messagePhone = message->chat->participants.front();
    }
    message->attachments = attachments.take(rowId);
    message->isHasAttach =
        presentInt(rows, kHasAttachments).value_or(0) != 0 || !message->attachments.empty();

    const auto summary = rows.columnRawBlob(kSummary);
    const MessageEdits edits = messageEdits(summary.data(), summary.size());
    if (message->messageContent.empty() && !edits.versions.empty()) {
      message->messageContent = edits.versions.back();
    }
    const bool editedAt = presentInt(rows, kDateEdited).value_or(0) > 0;
    message->unsent =
        presentInt(rows, kDateRetracted).value_or(0) > 0 || edits.retracted ||
        (editedAt && message->messageContent.empty() && rows.columnRawBlob(kBody).empty());
    message->edited = !message->unsent && (editedAt || edits.versions.size() > 1);
    if (message->edited && edits.versions.size() > 1) {
      message->previousTexts.assign(edits.versions.begin(), edits.versions.end() - 1);
    }
    if (auto original = rows.columnNonEmptyText(kThreadOriginator)) {
      replies.emplace_back(out.messages.size(), std::move(*original));
    }
    guids.emplace_back(rows.columnRawText(kGuid));
    out.messages.push_back(std::move(message));
  }
  if (rows.failed()) {
    out.readFailed = true;
    out.error = rows.error();
  }

  // Only the messages something points at are looked up by GUID: a few among many.
  auto standing = foldReactions(reactions);
  std::unordered_map<std::string_view, std::size_t> pointedAt;
  for (const auto& [guid, unused] : standing) pointedAt.emplace(guid, kNone);
  for (const auto& [at, original] : replies) pointedAt.emplace(original, kNone);
  if (!pointedAt.empty()) {
    for (std::size_t i = 0; i < guids.size(); ++i) {
      auto it = pointedAt.find(guids[i]);
      if (it != pointedAt.end() && it->second == kNone) it->second = i;
    }
  }
  const auto messageOf = [&](std::string_view guid) -> MzMessageNode* {
    auto it = pointedAt.find(guid);
    return it == pointedAt.end() || it->second == kNone ? nullptr : out.messages[it->second].get();
  };
  for (auto& [guid, reactionsOn] : standing) {
    if (MzMessageNode* target = messageOf(guid)) target->reactions = std::move(reactionsOn);
  }
  for (const auto& [at, original] : replies) {
    if (const MzMessageNode* target = messageOf(original)) {
      out.messages[at]->replyTo = excerpt(target->messageContent);
    }
  }
  for (auto& message : out.messages) {
    message->messageName = names.nameWithPicture(message->messagePhone, lists.messageContactData);
    message->contactImageData = lists.messageContactData;
    lists.messageContactData = nullptr;
    message->sender = senderName(
        message->messageType == "Send",
        message->messagePhone.empty() ? std::nullopt : message->messageName, message->messagePhone);
    fillFirstAttachment(*message);
  }
  return out;
}
