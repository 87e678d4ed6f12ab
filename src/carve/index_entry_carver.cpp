#include "carve/index_entry_carver.h"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

#include "carve/btree_cells.h"
#include "carve/record_fit.h"
#include "carve/record_format.h"

namespace carve {
namespace {

constexpr int kMaxDepth = 20;
constexpr std::int64_t kMaxIndexPages = 100'000;
constexpr int kMaxEntriesPerFreeblock = 256;

int varintLength(std::uint64_t value) {
  int n = 1;
  while (value > 0x7F && n < 9) {
    value >>= 7;
    ++n;
  }
  return n;
}

// The bytes of a varint of up to two bytes, as SQLite writes it.
std::array<std::uint8_t, 2> varintBytes(std::uint64_t value, int length) {
  if (length == 1) return {static_cast<std::uint8_t>(value), 0};
  return {static_cast<std::uint8_t>(0x80 | (value >> 7)), static_cast<std::uint8_t>(value & 0x7F)};
}

bool readableText(const std::string& text) {
  if (text.size() < 3 || !validUtf8(text)) return false;
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// One index the carver reads: on one TEXT column of a carvable rowid table.
struct TextIndex {
  int table = -1;
  int column = -1;
  std::int64_t rootPage = 0;
};

std::vector<TextIndex> textIndexes(const TableSchema& schema) {
  std::vector<TextIndex> out;
  for (const IndexDefinition& index : schema.indexes) {
    if (index.columns.size() != 1 || index.rootPage < 1) continue;
    for (std::size_t t = 0; t < schema.tables.size(); ++t) {
      const TableDefinition& table = schema.tables[t];
      if (table.withoutRowid || table.name != index.table) continue;
      for (std::size_t c = 0; c < table.columns.size(); ++c) {
        if (table.columns[c].name == index.columns[0] &&
            table.columns[c].affinity == Affinity::Text) {
          out.push_back({static_cast<int>(t), static_cast<int>(c), index.rootPage});
        }
      }
    }
  }
  return out;
}

// The leaf pages of the index b-tree rooted at `root` in `pages`, each visited once.
void indexLeaves(const DatabasePages& pages, std::int64_t page, int depth,
                 std::set<std::int64_t>& visited, std::vector<std::int64_t>& leaves) {
  if (depth > kMaxDepth || page < 1 || static_cast<std::int64_t>(visited.size()) > kMaxIndexPages ||
      !visited.insert(page).second) {
    return;
  }
  const auto place = pages.page(page);
  if (!place) return;
  const DatabaseImage& image = *place->image;
  const std::int64_t pageOffset = place->offset;
  const PageGeometry& geometry = pages.geometry();
  const auto header = readPageHeader(image, pageOffset, page == 1 ? 100 : 0, geometry);
  if (!header) return;
  if (header->kind == kIndexLeaf) {
    leaves.push_back(page);
    return;
  }
  if (header->kind != kIndexInterior) return;
  for (std::int64_t i = 0; i < header->cellCount; ++i) {
    const std::int64_t at = pageOffset + cellPointer(image, pageOffset, *header, i);
    if (at < pageOffset || at + 4 > pageOffset + geometry.usable) continue;
    indexLeaves(pages, read32(image, at), depth + 1, visited, leaves);
  }
  indexLeaves(pages, header->rightChild, depth + 1, visited, leaves);
}

struct Reading {
  std::string text;
  std::int64_t rowid = 0;
};

// The freed entry [begin, end) read as (text, rowid) in every layout that fits; `fits` tells
// a rowid the table may have had.
std::vector<Reading> readings(const std::uint8_t* bytes, std::int64_t begin, std::int64_t end,
                              std::int64_t maxLocal,
                              const std::function<bool(std::int64_t)>& fits) {
  std::vector<Reading> out;
  const std::int64_t total = end - begin;
  static constexpr std::array<std::int64_t, 6> kRowidTypes = {1, 2, 3, 4, 5, 6};
  for (const std::int64_t rowidType : kRowidTypes) {
    const std::int64_t rowidBytes = serialBodyLength(rowidType);
    for (int typeLength = 1; typeLength <= 2; ++typeLength) {
      for (int lengthBytes = 1; lengthBytes <= 2; ++lengthBytes) {
        const std::int64_t textLength = total - lengthBytes - 2 - typeLength - rowidBytes;
        if (textLength < 3) continue;
        const auto textType = static_cast<std::uint64_t>(13 + 2 * textLength);
        const std::int64_t payload = 2 + typeLength + textLength + rowidBytes;
        if (varintLength(textType) != typeLength || varintLength(payload) != lengthBytes ||
            payload > maxLocal) {
          continue;
        }
        // The header as SQLite wrote it; its bytes past the four the freeblock header took
        // must still be there.
        std::vector<std::uint8_t> header;
        const auto length = varintBytes(static_cast<std::uint64_t>(payload), lengthBytes);
        header.insert(header.end(), length.begin(), length.begin() + lengthBytes);
        header.push_back(static_cast<std::uint8_t>(2 + typeLength));
        const auto type = varintBytes(textType, typeLength);
        header.insert(header.end(), type.begin(), type.begin() + typeLength);
        header.push_back(static_cast<std::uint8_t>(rowidType));
        bool agrees = true;
        for (std::size_t i = 4; i < header.size(); ++i) agrees = agrees && bytes[i] == header[i];
        if (!agrees) continue;
        const std::uint8_t* text = bytes + header.size();
        Reading reading;
        reading.text.assign(reinterpret_cast<const char*>(text),
                            static_cast<std::size_t>(textLength));
        reading.rowid = decodeValue(rowidType, text + textLength).integer;
        if (readableText(reading.text) && fits(reading.rowid)) out.push_back(std::move(reading));
      }
    }
  }
  return out;
}

}  // namespace

std::vector<CarvedRow> carveIndexEntries(const CarveSources& sources, const TableSchema& schema,
                                         const DatabaseMap& map,
                                         const std::function<bool(const PageVersion&)>& isLatest) {
  std::vector<CarvedRow> rows;
  const std::vector<TextIndex> indexes = textIndexes(schema);
  if (indexes.empty()) return rows;
  const DatabasePages latest = sources.latest();
  const PageGeometry geometry = geometryWithPageSize(sources.database(), sources.pageSize());
  if (!geometry.valid()) return rows;
  // The most an index entry keeps on its page.
  const std::int64_t maxLocal = (geometry.usable - 12) * 64 / 255 - 23;
  // Where each leaf page of a text index now lies.
  std::unordered_map<std::int64_t, const TextIndex*> leafIndex;
  for (const TextIndex& index : indexes) {
    std::set<std::int64_t> visited;
    std::vector<std::int64_t> leaves;
    indexLeaves(latest, index.rootPage, 0, visited, leaves);
    for (const std::int64_t leaf : leaves) leafIndex.emplace(leaf, &index);
  }
  // The largest live rowid of each indexed table.
  std::unordered_map<int, std::int64_t> largestRowid;
  for (const TextIndex& index : indexes) {
    std::int64_t& largest = largestRowid[index.table];
    for (const auto& [rowid, digest] : map.liveRows[static_cast<std::size_t>(index.table)]) {
      largest = std::max(largest, rowid);
    }
  }
  for (const PageVersion& version : sources.versions()) {
    const auto found = leafIndex.find(version.page);
    if (found == leafIndex.end() || !isLatest(version)) continue;
    const TextIndex& index = *found->second;
    const TableDefinition& table = schema.tables[static_cast<std::size_t>(index.table)];
    const std::int64_t largest = largestRowid[index.table];
    const auto fits = [&](std::int64_t rowid) {
      return rowid >= 1 && rowid <= 2 * largest + 64 && !map.livePayload(index.table, rowid);
    };
    const DatabaseImage& image = sources.imageOf(version);
    const std::int64_t pageOffset = version.offset;
    const std::int64_t pageEnd = pageOffset + geometry.usable;
    if (pageOffset < 0 || pageOffset + geometry.pageSize > image.size()) continue;
    const auto header = readPageHeader(image, pageOffset, version.page == 1 ? 100 : 0, geometry);
    if (!header || header->kind != kIndexLeaf) continue;
    // Freeblocks ascend and never overlap: a chain that does otherwise is damaged and ends
    // there, which also keeps the work within the page's size.
    std::int64_t at = header->firstFreeblock;
    std::int64_t free = header->pointerArrayEnd;  // where the next freeblock may begin
    while (at != 0 && at >= free && pageOffset + at + 4 <= pageEnd) {
      const std::int64_t begin = pageOffset + at;
      const std::int64_t end = std::min(begin + read16(image, begin + 2), pageEnd);
      if (end < begin + 4) break;
      // The entries of the freeblock, front to back: one ends where an old freeblock header
      // whose size reaches the end begins, the last one at the end.
      std::int64_t entry = begin;
      for (int n = 0; n < kMaxEntriesPerFreeblock && entry + 8 <= end; ++n) {
        std::int64_t entryEnd = end;
        for (std::int64_t p = entry + 8; p + 4 <= end; ++p) {
          const std::int64_t size = read16(image, p + 2);
          if (size >= 4 && p + size == end) {
            entryEnd = p;
            break;
          }
        }
        const auto read =
            readings(image.data() + entry, entry, entryEnd, maxLocal, std::function(fits));
        if (read.size() == 1) {
          CarvedRow row;
          row.table = table.name;
          row.rowid = read[0].rowid;
          row.values.assign(table.columns.size(), SqlValue::null());
          row.values[static_cast<std::size_t>(index.column)] = SqlValue::ofText(read[0].text);
          const int alias = table.rowidAliasColumn();
          if (alias >= 0) {
            row.values[static_cast<std::size_t>(alias)] = SqlValue::ofInteger(read[0].rowid);
          }
          row.file = sources.fileOf(version);
          row.page = version.page;
          row.offset = entry;
          row.place = CarvedRecordPlace::kFreeblock;
          row.cellPlace = CarvedRecordPlace::kFreeblock;
          row.logFrame = version.logFrame;
          row.logCommit = version.logCommit;
          row.badChecksum = version.badChecksum;
          row.storedColumns = static_cast<int>(table.columns.size());
          row.headerRebuilt = true;
          row.length = entryEnd - entry;
          row.pageStart = pageOffset;
          row.newestPage = true;
          rows.push_back(std::move(row));
        }
        entry = entryEnd;
      }
      free = end - pageOffset;
      at = read16(image, begin);
    }
  }
  return rows;
}

}  // namespace carve
