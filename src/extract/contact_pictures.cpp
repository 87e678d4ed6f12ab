#include "extract/contact_pictures.h"

#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>

#include "base/sqlite_reader.h"
#include "catalogue/stored_file.h"
#include "extract/device_databases.h"

namespace {

constexpr const char* kFullSizeImageQuery = "select record_id, data from ABFullSizeImage";
constexpr const char* kImageQuery = "select record_id, data from ABImage";
// Per person, the largest format first.
constexpr const char* kThumbnailQuery =
    "select record_id, data from ABThumbnailImage order by record_id, format desc";

bool startsWith(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view text) {
  if (bytes.size() < offset || bytes.size() - offset < text.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (bytes[offset + i] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

// The major brands of HEIF still images ("ftyp" box of an ISO media file).
bool isHeifImage(std::span<const std::uint8_t> bytes) {
  constexpr std::array<std::string_view, 8> kBrands = {"heic", "heix", "heim", "heis",
                                                       "hevc", "hevx", "mif1", "msf1"};
  if (!startsWith(bytes, 4, "ftyp")) return false;
  for (auto brand : kBrands) {
    if (startsWith(bytes, 8, brand)) return true;
  }
  return false;
}

struct PictureFile {
  std::string path;
  const char* query = nullptr;
};

// AddressBookImages.sqlitedb, else the ".mddata" file, with the query of its table.
std::optional<PictureFile> pictureFile(const std::string& backupFolder) {
  const std::string fullSize = storedFilePath(backupFolder, devicedb::kContactPicturesKey);
  const std::string mddata =
      storedFilePath(backupFolder, std::string(devicedb::kContactPicturesKey) + ".mddata");
  std::error_code ec;
  if (std::filesystem::exists(fullSize, ec)) return PictureFile{fullSize, kFullSizeImageQuery};
  if (std::filesystem::exists(mddata, ec)) return PictureFile{mddata, kImageQuery};
  return std::nullopt;
}

void addPicture(ScanContext& scan, std::int64_t recordId, Bytes data) {
  auto picture = std::make_shared<MzContactImageNode>();
  picture->rowid = static_cast<std::int32_t>(recordId);
  picture->imageData = std::move(data);
  scan.lists.contactImageArray.push_back(std::move(picture));
}

bool holdsImage(const SqliteStatement& rows, int column) {
  return isContactImageData(rows.columnRawBlob(column));
}

}  // namespace

bool isContactImageData(std::span<const std::uint8_t> bytes) {
  return startsWith(bytes, 0, "\xFF\xD8\xFF") || startsWith(bytes, 0, "\x89PNG\r\n\x1A\n") ||
         isHeifImage(bytes);
}

void readContactPictures(ScanContext& scan, bool thumbnailFallback) {
  const auto file = pictureFile(scan.backupFolder);
  if (!file) return;
  auto copy =
      scan.databases.readOnlyCopy(file->path, devicedb::walKeyFor(devicedb::kContactPictures),
                                  devicedb::deviceFileName(devicedb::kContactPictures));
  if (!copy) return;
  SqliteDatabase db = SqliteDatabase::openReadOnly(*copy);
  if (!db.isOpen()) return;
  SqliteStatement rows = db.prepare(file->query);
  if (!thumbnailFallback) {
    while (rows.step()) addPicture(scan, rows.columnInt(0), rows.columnBlob(1));
    return;
  }
  std::unordered_set<std::int64_t> pictured;
  while (rows.step()) {
    if (!holdsImage(rows, 1)) continue;
    pictured.insert(rows.columnInt(0));
    addPicture(scan, rows.columnInt(0), rows.columnBlob(1));
  }
  SqliteStatement thumbnails = db.prepare(kThumbnailQuery);
  while (thumbnails.step()) {
    const std::int64_t recordId = thumbnails.columnInt(0);
    if (pictured.contains(recordId) || !holdsImage(thumbnails, 1)) continue;
    pictured.insert(recordId);
    addPicture(scan, recordId, thumbnails.columnBlob(1));
  }
}
