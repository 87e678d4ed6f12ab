// What the newest state of a database holds, page by page: which b-tree each page belongs
// to, which pages are on the freelist, and the live rows of each table (by rowid, with a
// digest of their payload) so that an older version of a row can be told from the live one.
// Every walk is bounded (depth, page count) and visits a page once.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "carve/btree_cells.h"
#include "carve/digest_set.h"
#include "carve/record_format.h"
#include "carve/sqlite_values.h"
#include "carve/table_schema.h"

namespace carve {

struct DatabaseMap {
  static constexpr int kOtherTree = -1;  // an index, the schema table or a table not parsed
  static constexpr int kOverflowPage = -2;

  // Page -> index into schema.tables, or kOtherTree / kOverflowPage.
  std::unordered_map<std::int64_t, int> owner;
  // Freelist page -> how many bytes at its start the freelist uses (a trunk's list; 0 leaves).
  std::unordered_map<std::int64_t, std::int64_t> freelist;
  // Per table (index into schema.tables): the live rows as (rowid, digest of the payload),
  // in rowid order, each rowid once.
  std::vector<std::vector<std::pair<std::int64_t, std::uint64_t>>> liveRows;
  // Per table: digests of the live rows' values (valuesDigest), to know a copy of a live row
  // that lost its rowid.
  std::vector<DigestSet> liveValues;
  std::int64_t headerPageCount = 0;  // offset 28 of the header
  // Pages between pointer-map pages, in a database that keeps them (auto-vacuum: a largest
  // root page at offset 52), else 0.
  std::int64_t pointerMapStride = 0;

  // The table owning `page`, or -1.
  int tableOf(std::int64_t page) const;
  // The payload digest of live row `rowid` of `table`, or none when no such row is live.
  std::optional<std::uint64_t> livePayload(int table, std::int64_t rowid) const;
  // Whether a live row of `table` holds values of digest `digest`.
  bool holdsLiveValues(int table, std::uint64_t digest) const;
  bool reachable(std::int64_t page) const { return owner.count(page) != 0; }
  // Whether `page` is a pointer-map page: five-byte entries of page parents, never a record.
  bool pointerMapPage(std::int64_t page) const {
    return pointerMapStride > 0 && page >= 2 && (page - 2) % pointerMapStride == 0;
  }
};

struct DatabaseMapLimits {
  int maxDepth = 20;
  std::int64_t maxPages = 2'000'000;
  std::int64_t maxOverflowPages = 4096;
};

std::uint64_t payloadDigest(const std::uint8_t* payload, std::size_t n);
inline std::uint64_t payloadDigest(const std::vector<std::uint8_t>& payload) {
  return payloadDigest(payload.data(), payload.size());
}
// A digest of a row's values, one per column, the rowid alias column (`skip`) left out and
// missing trailing columns counted as NULL.
std::uint64_t valuesDigest(const SqlValues& values, int skip);
// The same digest of a record read in place: `header`'s bodies at `body` (all readable),
// padded with NULL to `columns` values; equal to valuesDigest() of the decoded values.
std::uint64_t recordValuesDigest(const RecordHeader& header, const std::uint8_t* body,
                                 std::size_t columns, int skip);

// Maps the database whose newest state `pages` holds with the schema read from it.
DatabaseMap mapDatabase(const DatabasePages& pages, const TableSchema& schema,
                        const DatabaseMapLimits& limits = {});
// The same of a database held whole in `image`.
DatabaseMap mapDatabase(const DatabaseImage& image, const TableSchema& schema,
                        const DatabaseMapLimits& limits = {});

}  // namespace carve
