#include "extract/message_attachments.h"

#include <algorithm>
#include <memory>

#include "extract/media_types.h"

namespace {

constexpr const char* kAttachmentQuery =
    "select message_attachment_join.message_id, "
    "message_attachment_join.attachment_id,message_attachment_join.attachment_id,attachment."
    "ROWID,attachment.filename from attachment left join  message_attachment_join on  "
    "attachment.ROWID= message_attachment_join.attachment_id";
constexpr const char* kHandleQuery = "select ROWID, id from handle";

std::string withoutHomePrefixes(std::string path) {
  for (std::size_t at = path.find("~/"); at != std::string::npos; at = path.find("~/", at)) {
    path.erase(at, 2);
  }
  return path;
}

std::string_view lastComponent(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The extension of the last component, without its dot; "" when it has none.
std::string extensionOf(std::string_view path) {
  const std::string_view name = lastComponent(path);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return std::string();
  return std::string(name.substr(dot + 1));
}

std::optional<std::int32_t> presentInt(const SqliteStatement& row, int column) {
  if (column >= row.columnCount() || row.columnIsNull(column)) return std::nullopt;
  return static_cast<std::int32_t>(row.columnInt(column));
}

}  // namespace

std::optional<std::string> messageAttachType(std::string_view attachpath) {
  const std::string extension = extensionOf(attachpath);
  if (GetImageType(extension.c_str()) >= 0) return "Image";
  if (GetViedoType(extension.c_str()) >= 0 || GetAudioType(extension.c_str()) >= 0) return "Mov";
  const std::string_view name = lastComponent(attachpath);
  if (name == "Contact.vcf") return "Contact";
  if (name == "Current Location.loc.vcf") return "Location";
  return std::nullopt;
}

std::string attachmentKind(std::string_view mimeType, std::string_view uti, std::string_view name) {
  const std::string_view file = lastComponent(name);
  if (uti == "public.vlocation" || file.ends_with(".loc.vcf")) return "Location";
  if (uti == "public.vcard" || mimeType == "text/vcard" || mimeType == "text/x-vcard") {
    return "Contact";
  }
  if (mimeType.starts_with("image/") || uti == "public.heic" || uti == "public.jpeg" ||
      uti == "public.png") {
    return "Image";
  }
  if (mimeType.starts_with("video/") || uti == "com.apple.quicktime-movie") return "Mov";
  if (mimeType.starts_with("audio/") || uti == "com.apple.coreaudio-format") return "Audio";
  if (mimeType == "application/pdf" || uti == "com.adobe.pdf") return "PDF";
  const std::string extension = extensionOf(file);
  if (GetImageType(extension.c_str()) >= 0) return "Image";
  if (GetViedoType(extension.c_str()) >= 0) return "Mov";
  if (GetAudioType(extension.c_str()) >= 0) return "Audio";
  if (file.ends_with(".vcf")) return "Contact";
  if (extension == "pdf" || extension == "PDF") return "PDF";
  return "File";
}

std::optional<std::string> mediaDomainPath(std::string_view filename) {
  std::string_view path = filename;
  if (path.starts_with("~/")) {
    path.remove_prefix(2);
  } else if (path.starts_with("/var/mobile/")) {
    path.remove_prefix(12);
  } else if (path.starts_with("/private/var/mobile/")) {
    path.remove_prefix(20);
  } else {
    return std::nullopt;
  }
  if (!path.starts_with("Library/")) return std::nullopt;
  for (std::size_t start = 0; start <= path.size();) {
    const std::size_t slash = std::min(path.find('/', start), path.size());
    const std::string_view part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return std::nullopt;
    start = slash + 1;
  }
  return std::string(path);
}

void scanMessageAttachThread(const std::string& databasePath, ScanLists& lists) {
  SqliteDatabase db = SqliteDatabase::openReadOnly(databasePath);
  if (!db.isOpen()) return;
  SqliteStatement rows = db.prepare(kAttachmentQuery);
  while (rows.step()) {
    auto attachment = std::make_shared<MzMessageAttachNode>();
    if (auto id = presentInt(rows, 0)) attachment->messageId = *id;
    if (auto id = presentInt(rows, 1)) attachment->attachmentId = *id;
    // A name that is empty, or nothing but "~/", names no file.
    if (auto name = rows.columnNonEmptyText(4)) {
      std::string path = withoutHomePrefixes(*name);
      if (!path.empty()) {
        attachment->attachType = messageAttachType(path);
        attachment->attachpath = std::move(path);
      }
    }
    lists.meesageAttachArray.push_back(std::move(attachment));
  }
}

void selectROWIDandIDFromHandleTablewithSqlite(const SqliteDatabase& db, ScanLists& lists) {
  SqliteStatement rows = db.prepare(kHandleQuery);
  while (rows.step()) {
    auto handle = std::make_shared<MzChatMessageNode>();
    if (auto id = presentInt(rows, 0)) handle->rowid = *id;
    handle->phoneValue = rows.columnText(1).value_or(std::string());
    lists.chatMessageArray.push_back(std::move(handle));
  }
}

MessageAttachments::MessageAttachments(const RecordList<MzMessageAttachNode>& attachments,
                                       const FileIndex& index)
    : index_(index) {
  // The first row of a message in list order is the one a message shows.
  for (const auto& attachment : attachments) {
    if (attachment) firstByMessage_.try_emplace(attachment->messageId, attachment.get());
  }
}

const MzMessageAttachNode* MessageAttachments::firstAttachmentOf(std::int32_t messageId) const {
  const auto it = firstByMessage_.find(messageId);
  return it == firstByMessage_.end() ? nullptr : it->second;
}

std::optional<std::string> MessageAttachments::storedFileOf(const std::string& devicePath) {
  if (!pathsIndexed_) {
    // A later record of the same path replaces an earlier one: the latest entry wins.
    for (const auto& record : index_) {
      if (record) keyByPath_[record->filePath] = &record->fileKey;
    }
    pathsIndexed_ = true;
  }
  const auto it = keyByPath_.find(devicePath);
  if (it == keyByPath_.end()) return std::nullopt;
  return *it->second;
}

void MessageAttachments::attachTo(MzMessageNode& message) {
  const MzMessageAttachNode* attachment = firstAttachmentOf(message.rowId);
  if (attachment == nullptr || !attachment->attachpath) return;
  message.attachmentPath = storedFileOf(*attachment->attachpath);
  message.attachType = attachment->attachType;
  // A contact or location card is no picture of the sender. Its device path names a file of
  // the phone, not of this computer, so nothing is read for it.
  if (message.attachType == "Contact" || message.attachType == "Location") {
    message.contactImageData = nullptr;
  }
}
