// Rows of the notes store and their placing in a page image, for the tests of the
// deleted-notes carver and its step.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "notes_volume.h"

namespace note_rows {

using fixtures::encodeRecord;
using fixtures::PageImage;
using fixtures::SqlValue;

// A note record of the notes store (ZNOTE) before iOS 7, as schema format 1 writes it.
inline std::vector<SqlValue> noteRow(std::int64_t bodyId, SqlValue modified,
                                     const std::string& title, const std::string& summary) {
  return {nullptr,
          std::int64_t{3},
          std::int64_t{2},
          std::int64_t{0},
          std::int64_t{0},
          std::int64_t{0},
          std::int64_t{0},
          std::int64_t{-4294967296},
          bodyId + 100,
          std::int64_t{0},
          bodyId,
          std::int64_t{1},
          SqlValue(modified),
          modified,
          nullptr,
          std::string("6F1C2B7E-1D0A-4C4B-9B7E-2C1F5E9A0D31"),
          nullptr,
          summary.empty() ? SqlValue(nullptr) : SqlValue(summary),
          title};
}

// The same with iOS 7's ZEXTERNALSEQUENCENUMBER (NULL) after ZEXTERNALFLAGS.
inline std::vector<SqlValue> noteRowOfIOS7(std::int64_t bodyId, SqlValue modified,
                                           const std::string& title, const std::string& summary) {
  const std::vector<SqlValue> row = noteRow(bodyId, modified, title, summary);
  std::vector<SqlValue> out;
  out.reserve(row.size() + 1);
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i == 7) out.emplace_back(nullptr);
    out.push_back(row[i]);
  }
  return out;
}

inline std::vector<SqlValue> bodyRow(std::int64_t owner, const std::string& content) {
  return {nullptr, std::int64_t{4}, std::int64_t{1}, owner, content, nullptr, nullptr};
}

// Places records one after another in page `page` from `at` on, with the page's first cell
// pointer on the first (the cell's payload length and rowid taking the 3 bytes before it).
inline void placeRecords(PageImage& image, int page, int at,
                         const std::vector<std::vector<SqlValue>>& rows, bool format4 = false) {
  image.setFirstCell(page, at - 3);
  std::int64_t offset = image.pageOffset(page) + at;
  for (const auto& row : rows) offset = image.put(offset, encodeRecord(row, format4)) + 3;
}

}  // namespace note_rows
