#include "extract/note_attachments.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "extract/media_types.h"

namespace {

constexpr const char* kTable = "ZICCLOUDSYNCINGOBJECT";

// The columns of one attachment row, in the query's select list.
enum AttachmentColumn { kNote, kIdentifier, kUti, kMediaIdentifier, kMediaFileName };

bool hasColumn(const std::vector<std::string>& columns, std::string_view name) {
  return std::find(columns.begin(), columns.end(), name) != columns.end();
}

// The attachment rows with the note they belong to (their own or their parent's) and their
// media row's identifier and file name; "" when the store lacks a needed column.
std::string attachmentsQuery(const SqliteDatabase& db) {
  const auto columns = db.columnsOf(kTable);
  for (const char* needed : {"ZNOTE", "ZTYPEUTI", "ZIDENTIFIER"}) {
    if (!hasColumn(columns, needed)) return "";
  }
  const bool parent = hasColumn(columns, "ZPARENTATTACHMENT");
  const bool media = hasColumn(columns, "ZMEDIA") && hasColumn(columns, "ZFILENAME");
  std::string sql = "SELECT " + std::string(parent ? "coalesce(a.ZNOTE, p.ZNOTE)" : "a.ZNOTE") +
                    ", a.ZIDENTIFIER, a.ZTYPEUTI, " +
                    (media ? "m.ZIDENTIFIER, m.ZFILENAME" : "NULL, NULL") + " FROM " + kTable +
                    " a";
  if (parent) sql += std::string(" LEFT JOIN ") + kTable + " p ON p.Z_PK = a.ZPARENTATTACHMENT";
  if (media) sql += std::string(" LEFT JOIN ") + kTable + " m ON m.Z_PK = a.ZMEDIA";
  sql += " WHERE a.ZTYPEUTI IS NOT NULL AND " +
         std::string(parent ? "coalesce(a.ZNOTE, p.ZNOTE)" : "a.ZNOTE") +
         " IS NOT NULL ORDER BY a.Z_PK";
  return sql;
}

// The container's stored files by the identifier of the folder or name they lie under.
class ContainerFiles {
 public:
  explicit ContainerFiles(const FileIndex& index) {
    for (const auto& node : index) {
      if (!node || node->isFolder || node->isLink || node->fileKey.empty()) continue;
      if (node->fileDomain != kNotesContainerDomain) continue;
      file(*node);
    }
  }

  // The stored file of a media row: the one named `fileName` under its folder, else the last
  // file there.
  std::optional<const MzTreeDirNode*> media(const std::string& id,
                                            const std::string& fileName) const {
    const auto it = media_.find(id);
    if (id.empty() || it == media_.end()) return std::nullopt;
    for (auto node = it->second.rbegin(); node != it->second.rend(); ++node) {
      if (lastPathComponent((*node)->filePath) == fileName) return *node;
    }
    return it->second.back();
  }

  std::optional<const MzTreeDirNode*> fallbackImage(const std::string& id) const {
    const auto it = fallback_.find(id);
    if (id.empty() || it == fallback_.end()) return std::nullopt;
    return it->second.back();
  }

 private:
  void file(const MzTreeDirNode& node) {
    std::vector<std::string_view> parts;
    std::string_view path = node.filePath;
    while (!path.empty()) {
      const std::size_t slash = path.find('/');
      parts.push_back(path.substr(0, slash));
      if (slash == std::string_view::npos) break;
      path.remove_prefix(slash + 1);
    }
    // The folder name after "Media" or "FallbackImages", short of the file itself.
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      if (parts[i] == "Media" && i + 2 < parts.size()) {
        media_[std::string(parts[i + 1])].push_back(&node);
        return;
      }
      if (parts[i] == "FallbackImages") {
        std::string_view id = parts[i + 1];
        if (i + 2 == parts.size()) id = id.substr(0, id.find('.'));
        fallback_[std::string(id)].push_back(&node);
        return;
      }
    }
  }

  std::unordered_map<std::string, std::vector<const MzTreeDirNode*>> media_;
  std::unordered_map<std::string, std::vector<const MzTreeDirNode*>> fallback_;
};

}  // namespace

std::unordered_map<std::int64_t, std::vector<MzNoteAttachment>> readNoteAttachments(
    const SqliteDatabase& db, const FileIndex& index) {
  std::unordered_map<std::int64_t, std::vector<MzNoteAttachment>> byNote;
  const std::string sql = attachmentsQuery(db);
  if (sql.empty()) return byNote;
  SqliteStatement rows = db.prepare(sql);
  if (!rows.valid()) return byNote;
  const ContainerFiles files(index);
  while (rows.step()) {
    const std::string id = rows.columnText(kIdentifier).value_or("");
    const std::string mediaId = rows.columnText(kMediaIdentifier).value_or("");
    const std::string fileName = rows.columnText(kMediaFileName).value_or("");
    std::optional<const MzTreeDirNode*> stored = files.media(mediaId, fileName);
    if (!stored) stored = files.fallbackImage(id);
    // Without a media row or a file in the backup the attachment holds nothing to copy.
    if (!stored && mediaId.empty()) continue;
    MzNoteAttachment attachment;
    attachment.uti = rows.columnText(kUti).value_or("");
    attachment.name = !fileName.empty() ? fileName
                      : stored          ? std::string(lastPathComponent((*stored)->filePath))
                                        : std::string();
    if (stored) attachment.storedPath = (*stored)->fileKey;
    byNote[rows.columnInt(kNote)].push_back(std::move(attachment));
  }
  return byNote;
}
