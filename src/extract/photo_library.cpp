#include "extract/photo_library.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "base/conversions.h"

namespace {

// ZKINDSUBTYPE of a Live Photo.
constexpr std::int64_t kLivePhotoSubtype = 2;

bool has(const std::vector<std::string>& columns, std::string_view name) {
  return std::find(columns.begin(), columns.end(), name) != columns.end();
}

std::string assetKey(const std::string& directory, const std::string& fileName) {
  std::string key = directory;
  while (!key.empty() && key.back() == '/') key.pop_back();
  key += "/" + fileName;
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

// The asset table and its columns, or an empty name when the database holds neither.
struct AssetTable {
  std::string name;
  std::vector<std::string> columns;
};

AssetTable assetTableOf(const SqliteDatabase& db) {
  for (const char* table : {"ZASSET", "ZGENERICASSET"}) {
    std::vector<std::string> columns = db.columnsOf(table);
    if (has(columns, "ZDIRECTORY") && has(columns, "ZFILENAME")) return {table, columns};
  }
  return {};
}

// "a.COLUMN" when the table has it, else NULL, so that one query serves every layout.
std::string columnOrNull(const std::vector<std::string>& columns, const char* alias,
                         const char* column) {
  return has(columns, column) ? std::string(alias) + "." + column : std::string("NULL");
}

std::string assetQuery(const SqliteDatabase& db, const AssetTable& assets) {
  const std::vector<std::string> extra = db.columnsOf("ZADDITIONALASSETATTRIBUTES");
  std::string originalName = "NULL";
  std::string join;
  if (has(extra, "ZORIGINALFILENAME")) {
    if (has(extra, "ZASSET") && has(assets.columns, "Z_PK")) {
      join = " LEFT JOIN ZADDITIONALASSETATTRIBUTES x ON x.ZASSET = a.Z_PK";
    } else if (has(extra, "Z_PK") && has(assets.columns, "ZADDITIONALATTRIBUTES")) {
      join = " LEFT JOIN ZADDITIONALASSETATTRIBUTES x ON x.Z_PK = a.ZADDITIONALATTRIBUTES";
    }
    if (!join.empty()) originalName = "x.ZORIGINALFILENAME";
  }
  return "SELECT a.ZDIRECTORY, a.ZFILENAME, " + columnOrNull(assets.columns, "a", "ZDATECREATED") +
         ", " + columnOrNull(assets.columns, "a", "ZKIND") + ", " +
         columnOrNull(assets.columns, "a", "ZKINDSUBTYPE") + ", " + originalName + " FROM " +
         assets.name + " a" + join;
}

}  // namespace

bool PhotoLibrary::isCurrentLibrary(const SqliteDatabase& db) {
  if (!db.isOpen()) return false;
  const AssetTable assets = assetTableOf(db);
  if (assets.name == "ZASSET") return true;
  // iOS 5 to 7 already kept a ZGENERICASSET with these columns; the table of additional
  // attributes came with the libraries of the current devices.
  return !assets.name.empty() && !db.columnsOf("ZADDITIONALASSETATTRIBUTES").empty();
}

PhotoLibrary PhotoLibrary::read(const SqliteDatabase& db) {
  PhotoLibrary library;
  if (!db.isOpen()) return library;
  const AssetTable assets = assetTableOf(db);
  if (assets.name.empty()) return library;
  SqliteStatement rows = db.prepare(assetQuery(db, assets));
  while (rows.valid() && rows.step()) {
    const std::optional<std::string> directory = rows.columnText(0);
    const std::optional<std::string> fileName = rows.columnNonEmptyText(1);
    if (!directory || !fileName) continue;
    PhotoAsset asset;
    if (!rows.columnIsNull(2)) {
      // ZDATECREATED is a real number of seconds since 2001-01-01 UTC.
      const std::string text = std::string(rows.columnRawText(2));
      char* end = nullptr;
      const double seconds = std::strtod(text.c_str(), &end);
      if (end != text.c_str() && std::isfinite(seconds) && std::fabs(seconds) < 1e12) {
        asset.captureDate = dateText(static_cast<std::int64_t>(std::floor(seconds)), 1);
      }
    }
    if (!rows.columnIsNull(3)) asset.kind = rows.columnInt(3);
    asset.livePhoto = !rows.columnIsNull(4) && rows.columnInt(4) == kLivePhotoSubtype;
    asset.originalFileName = rows.columnNonEmptyText(5).value_or("");
    library.assets_.emplace(assetKey(*directory, *fileName), std::move(asset));
  }
  return library;
}

const PhotoAsset* PhotoLibrary::find(const std::string& directory,
                                     const std::string& fileName) const {
  auto it = assets_.find(assetKey(directory, fileName));
  return it == assets_.end() ? nullptr : &it->second;
}
