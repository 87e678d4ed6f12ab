// The attachment and handle tables of the messages database (iOS 6 and later), and how a
// message finds its attachment's stored file through the file index.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/sqlite_reader.h"
#include "catalogue/tree_dir_node.h"
#include "extract/item_records.h"
#include "extract/scan_lists.h"

// The type of an attachment by its device path: "Image" or "Mov" by the extension of the
// file name (images first, then videos and audio), else "Contact" for a file named
// "Contact.vcf", "Location" for "Current Location.loc.vcf", else none.
std::optional<std::string> messageAttachType(std::string_view attachpath);

// The kind of an attachment of a current database: "Location" for a shared location,
// "Contact" for a card, "Image", "Mov", "Audio" or "PDF" by its MIME type or UTI, else by the
// extension of its name, else "File".
std::string attachmentKind(std::string_view mimeType, std::string_view uti, std::string_view name);

// Where the file an attachment row names lies in MediaDomain: "~/Library/SMS/…" and
// "/var/mobile/Library/SMS/…" give "Library/SMS/…". None for a path outside the owner's
// Library, or one with an empty, "." or ".." component.
std::optional<std::string> mediaDomainPath(std::string_view filename);

// Reads the attachment join of the messages database at `databasePath` (a private copy)
// into lists.meesageAttachArray, in query order, each with its device path (every "~/"
// removed) and type. A database without the attachment tables leaves the list as it is.
void scanMessageAttachThread(const std::string& databasePath, ScanLists& lists);

// Reads the handle table of the open messages database into lists.chatMessageArray (row id
// and address), for the deleted-message carver. Nothing when the table is missing.
void selectROWIDandIDFromHandleTablewithSqlite(const SqliteDatabase& db, ScanLists& lists);

// Joins messages to their attachments: the first attachment row of a message's row id, and
// the stored file of a device path (the latest index record of that path, any domain).
// Both lookups are indexed once, so a scan with many attachments stays linear.
class MessageAttachments {
 public:
  MessageAttachments(const RecordList<MzMessageAttachNode>& attachments, const FileIndex& index);

  // Fills attachmentPath and attachType of `message` from its first attachment, when it has
  // one with a device path. Contact and location cards give the message no picture.
  void attachTo(MzMessageNode& message);

 private:
  const MzMessageAttachNode* firstAttachmentOf(std::int32_t messageId) const;
  std::optional<std::string> storedFileOf(const std::string& devicePath);

  std::unordered_map<std::int32_t, const MzMessageAttachNode*> firstByMessage_;
  const FileIndex& index_;
  std::unordered_map<std::string_view, const std::string*> keyByPath_;  // made on first need
  bool pathsIndexed_ = false;
};
