#include "extract/messages_scanner.h"

#include <any>
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "base/conversions.h"
#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/current_messages.h"
#include "extract/database_location.h"
#include "extract/device_databases.h"
#include "extract/message_attachments.h"
#include "extract/message_direction.h"
#include "extract/name_lookup.h"
#include "extract/step_database.h"
#include "extract/typedstream.h"

namespace {

// The message texts of both database generations, as the device's tables name them.
constexpr const char* kChatMessageQuery =
    "select message.ROWID,message.cache_has_attachments,message.text,message.date,message."
    "handle_id,handle.id,is_from_me from message left join handle on "
    "message.handle_id=handle.ROWID";
constexpr const char* kChatGroupMessageQuery =
    "select message.ROWID,message.cache_has_attachments,message.group_id,subject, "
    "text,date,group_member.address,svc_center,flags,association_id from message left join  "
    "group_member on  message.group_id= group_member.group_id";
constexpr const char* kMadridMessageQuery =
    "select message.ROWID,message.group_id,subject, text,date,group_member.address,svc_center,"
    "flags,association_id ,is_madrid,madrid_handle, madrid_account,madrid_flags,"
    "madrid_attachmentInfo from message left join  group_member on  message.group_id= "
    "group_member.group_id";
constexpr const char* kGroupMessageQuery =
    "select message.ROWID,message.group_id,subject, text,date,group_member.address,svc_center,"
    "flags,association_id from message left join  group_member on  message.group_id= "
    "group_member.group_id";

enum class MessageLayout {
  Chat,       // message and handle (iOS 6 and later)
  ChatGroup,  // message with the attachment flag and group_member
  Madrid,     // message with the iMessage columns and group_member (iOS 5)
  Group,      // message and group_member (before iOS 5)
};

struct MessageText {
  MessageLayout layout;
  const char* sql;
};

constexpr std::array<MessageText, 4> kNewerFirst = {
    {{MessageLayout::Chat, kChatMessageQuery},
     {MessageLayout::ChatGroup, kChatGroupMessageQuery},
     {MessageLayout::Madrid, kMadridMessageQuery},
     {MessageLayout::Group, kGroupMessageQuery}}};
constexpr std::array<MessageText, 4> kOlderFirst = {
    {{MessageLayout::Madrid, kMadridMessageQuery},
     {MessageLayout::Group, kGroupMessageQuery},
     {MessageLayout::Chat, kChatMessageQuery},
     {MessageLayout::ChatGroup, kChatGroupMessageQuery}}};

bool isChatLayout(MessageLayout layout) {
  return layout == MessageLayout::Chat || layout == MessageLayout::ChatGroup;
}

struct MessageRows {
  MessageLayout layout;
  SqliteStatement rows;
};

// The first text of the generation the OS flag names that the database accepts, else the
// first of the other generation's texts that it accepts.
std::optional<MessageRows> prepareMessageRows(const SqliteDatabase& db, bool iOS6Layout) {
  for (const MessageText& text : iOS6Layout ? kNewerFirst : kOlderFirst) {
    SqliteStatement rows = db.prepare(text.sql);
    if (rows.valid()) return MessageRows{text.layout, std::move(rows)};
  }
  return std::nullopt;
}

// A column counts only when the row has it and it is not NULL.
std::optional<std::int64_t> presentInt(const SqliteStatement& row, int column) {
  if (column >= row.columnCount() || row.columnIsNull(column)) return std::nullopt;
  return row.columnInt(column);
}

std::optional<std::string> presentText(const SqliteStatement& row, int column) {
  if (column >= row.columnCount()) return std::nullopt;
  return row.columnNonEmptyText(column);
}

void setDate(MzMessageNode& message, const SqliteStatement& row, int column) {
  if (auto date = presentInt(row, column)) message.messageDate = dateText(*date, 0);
}

// The same for the message/handle layout, whose dates may be nanoseconds. A nanosecond date
// is known to count from 2001 and is read so; a date in seconds keeps the rule of the
// older dates.
void setChatDate(MzMessageNode& message, const SqliteStatement& row, int column) {
  if (auto date = presentInt(row, column)) {
    const bool nanoseconds = *date > kNanosecondDateThreshold;
    message.messageDate = dateText(messageDateSeconds(*date), nanoseconds ? 1 : 0);
  }
}

// ROWID, cache_has_attachments, text, date, handle_id, handle.id, is_from_me.
void readChatRow(const SqliteStatement& row, MzMessageNode& message) {
  if (auto id = presentInt(row, 0)) message.rowId = static_cast<std::int32_t>(*id);
  if (auto has = presentInt(row, 1)) message.isHasAttach = *has != 0;
  if (auto text = presentText(row, 2)) message.messageContent = std::move(*text);
  setChatDate(message, row, 3);
  if (auto address = presentText(row, 5)) message.messagePhone = std::move(*address);
  if (auto fromMe = presentInt(row, 6)) message.messageType = messageDirectionOfFromMe(*fromMe);
}

// ROWID, cache_has_attachments, group_id, subject, text, date, group_member.address,
// svc_center, flags, association_id: read by what the columns hold, so that content, date,
// address and direction come from the text, date, address and flags columns.
void readChatGroupRow(const SqliteStatement& row, MzMessageNode& message) {
  if (auto id = presentInt(row, 0)) message.rowId = static_cast<std::int32_t>(*id);
  if (auto has = presentInt(row, 1)) message.isHasAttach = *has != 0;
  if (auto text = presentText(row, 4)) message.messageContent = std::move(*text);
  setDate(message, row, 5);
  if (auto address = presentText(row, 6)) message.messagePhone = std::move(*address);
  if (auto flags = presentInt(row, 8)) message.messageType = messageDirectionOfFlags(*flags);
}

// The iMessage attachment information as text: its bytes without the zero bytes.
std::string textWithoutZeroBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::uint8_t b : bytes) {
    if (b != 0) text += static_cast<char>(b);
  }
  return GetStringFormChar(std::string_view(text));
}

// ROWID, group_id, subject, text, date, group_member.address, svc_center, flags,
// association_id, and with the iMessage columns is_madrid, madrid_handle, madrid_account,
// madrid_flags, madrid_attachmentInfo. The row id is not read: these messages have no
// attachments.
void readOlderRow(const SqliteStatement& row, MzMessageNode& message) {
  if (auto text = presentText(row, 3)) message.messageContent = std::move(*text);
  setDate(message, row, 4);
  if (auto address = presentText(row, 5)) message.messagePhone = std::move(*address);
  if (auto flags = presentInt(row, 7)) message.messageType = messageDirectionOfFlags(*flags);
  if (presentInt(row, 9) != 1) return;
  message.bImessage = true;
  if (auto handle = presentText(row, 10)) message.messagePhone = std::move(*handle);
  if (auto flags = presentInt(row, 12)) message.messageType = messageDirectionOfFlags(*flags);
  // The attachment information replaces the text when it decodes to text. Bytes that are
  // not text (an archived property list) would wipe the message's own text out, so they
  // leave it as it is.
  if (row.columnCount() > 13) {
    if (Bytes info = row.columnBlob(13); info && !info->empty()) {
      if (std::string text = textWithoutZeroBytes(*info); !text.empty()) {
        message.messageContent = std::move(text);
      }
    }
  }
}

void readRow(MessageLayout layout, const SqliteStatement& row, MzMessageNode& message) {
  switch (layout) {
    case MessageLayout::Chat:
      readChatRow(row, message);
      break;
    case MessageLayout::ChatGroup:
      readChatGroupRow(row, message);
      break;
    case MessageLayout::Madrid:
    case MessageLayout::Group:
      readOlderRow(row, message);
      break;
  }
}

// The other party's name and picture. The picture a lookup leaves is handed to this
// message and then cleared, so a message whose number matches no contact gets no picture.
void lookUpName(ScanLists& lists, NameLookup& names, MzMessageNode& message) {
  message.messageName = names.nameWithPicture(message.messagePhone, lists.messageContactData);
  message.contactImageData = lists.messageContactData;
  lists.messageContactData = nullptr;
}

void readMessages(ScanContext& scan, StepDatabase& database) {
  const SqliteDatabase& db = database.db();
  const std::string& databasePath = database.copyPath();
  std::optional<MessageRows> prepared = prepareMessageRows(db, scan.currentNodeIsiOS6Version);
  // The attachment and handle tables belong to the iOS 6 layout: read them when the flag
  // says so or when that layout's texts are the ones that fit.
  const bool chatTables =
      scan.currentNodeIsiOS6Version || (prepared && isChatLayout(prepared->layout));
  if (chatTables) scanMessageAttachThread(databasePath, scan.lists);
  NameLookup& names = nameLookupOf(scan.lists);
  if (prepared && prepared->layout == MessageLayout::Chat && hasCurrentMessageTable(db)) {
    CurrentMessages current = readCurrentMessages(db, names, scan.lists.treeFileArray, scan.lists);
    for (auto& message : current.messages) {
      message->origin = RecordOrigin::live(database.fileName(), "message", message->rowId);
      scan.nc.post("ScanMessageInfo", std::any(std::move(message)));
    }
    if (current.readFailed) database.noteFailedRead(current.error);
    selectROWIDandIDFromHandleTablewithSqlite(db, scan.lists);
    return;
  }
  MessageAttachments attachments(scan.lists.meesageAttachArray, scan.lists.treeFileArray);
  // Current devices leave `text` empty for many messages and keep it only in the archived
  // attributed string; databases without that column prepare nothing here.
  SqliteStatement archivedBody =
      prepared && prepared->layout == MessageLayout::Chat
          ? db.prepare("select attributedBody from message where ROWID=?")
          : SqliteStatement();
  if (prepared) {
    const std::string fileName = database.fileName();
    while (prepared->rows.step()) {
      auto message = std::make_shared<MzMessageNode>();
      readRow(prepared->layout, prepared->rows, *message);
      // Every text selects message.ROWID first.
      message->origin =
          RecordOrigin::live(fileName, "message", presentInt(prepared->rows, 0).value_or(-1));
      if (message->messageContent.empty() && archivedBody.valid() && message->rowId >= 0) {
        archivedBody.reset();
        archivedBody.bindInt(1, message->rowId);
        if (archivedBody.step()) {
          if (const Bytes blob = archivedBody.columnBlob(0)) {
            if (auto text = attributedBodyText(blob->data(), blob->size())) {
              message->messageContent = std::move(*text);
            }
          }
        }
      }
      lookUpName(scan.lists, names, *message);
      if (message->isHasAttach) attachments.attachTo(*message);
      scan.nc.post("ScanMessageInfo", std::any(std::move(message)));
    }
    database.checkRead(prepared->rows);
  }
  if (chatTables) selectROWIDandIDFromHandleTablewithSqlite(db, scan.lists);
}

}  // namespace

std::int64_t messageDateSeconds(std::int64_t value) {
  return value > kNanosecondDateThreshold ? value / 1'000'000'000 : value;
}

StepOutcome scanMessageThread(ScanContext& scan) {
  StepDatabase database(
      scan, {{devicedb::kMessagesKey, devicedb::kMessages.domain, devicedb::kMessages.path}});
  if (!database.location()) return database.outcome();
  if (database.open(StepDatabase::Log::Keep)) readMessages(scan, database);
  scan.postProgress(50);
  return database.outcome();
}
