#include "carve/database_map.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <string_view>

#include "carve/digest.h"
#include "carve/present_memory.h"
#include "carve/record_format.h"
#include "carve/worker_threads.h"

namespace carve {

namespace {

// What one live row of a table leaf page adds to the map.
struct LiveRow {
  std::int64_t rowid = 0;
  std::uint64_t payload = 0;            // payloadDigest, 0 when it could not be read
  std::optional<std::uint64_t> values;  // recordValuesDigest, when the header reads
  std::uint32_t overflow = 0;           // the first overflow page, 0 none
};

// A table leaf page reached by a table's b-tree.
struct Leaf {
  std::int64_t page = 0;
  int owner = DatabaseMap::kOtherTree;
};

struct Walk {
  const TableSchema& schema;
  const DatabasePages& pages;
  const PageGeometry& geometry;
  const DatabaseMapLimits& limits;
  DatabaseMap& map;
  std::vector<Leaf> leaves;  // in the order the walk reached them

  bool claim(std::int64_t page, int owner) {
    if (page < 1 || static_cast<std::int64_t>(map.owner.size()) >= limits.maxPages) return false;
    if (!pages.page(page)) return false;
    return map.owner.emplace(page, owner).second;
  }

  void markOverflow(std::uint32_t first) {
    std::uint32_t next = first;
    for (std::int64_t n = 0; next != 0 && n < limits.maxOverflowPages; ++n) {
      if (!claim(next, DatabaseMap::kOverflowPage)) return;
      const PagePlace place = *pages.page(next);  // claim() found it
      next = read32(*place.image, place.offset);
    }
  }

  // Claims the pages of a b-tree; its table leaf pages are listed, to be read by LeafReader.
  void tree(std::int64_t page, int owner, int depth) {
    if (depth > limits.maxDepth || !claim(page, owner)) return;
    const PagePlace place = *pages.page(page);  // claim() found it
    const DatabaseImage& image = *place.image;
    const std::int64_t pageOffset = place.offset;
    const auto header = readPageHeader(image, pageOffset, page == 1 ? 100 : 0, geometry);
    if (!header) return;
    if (header->kind == kTableLeaf) {
      leaves.push_back({page, owner});
      return;
    }
    if (!header->interior()) return;
    const std::int64_t pageEnd = pageOffset + geometry.usable;
    for (std::int64_t i = 0; i < header->cellCount; ++i) {
      const std::int64_t cell = pageOffset + cellPointer(image, pageOffset, *header, i);
      if (cell < pageOffset || cell >= pageEnd) continue;
      tree(read32(image, cell), owner, depth + 1);
    }
    tree(header->rightChild, owner, depth + 1);
  }
};

// Reads the rows of table leaf pages; only reads the pages, so several run at once.
class LeafReader {
 public:
  LeafReader(const TableSchema& schema, const DatabasePages& pages, const PageGeometry& geometry,
             const DatabaseMapLimits& limits)
      : schema_(schema), pages_(pages), geometry_(geometry), limits_(limits) {}

  void read(const Leaf& leaf, std::vector<LiveRow>& rows) {
    const auto place = pages_.page(leaf.page);
    if (!place) return;
    const DatabaseImage& image = *place->image;
    const std::int64_t pageOffset = place->offset;
    const auto header = readPageHeader(image, pageOffset, leaf.page == 1 ? 100 : 0, geometry_);
    if (!header) return;
    const std::int64_t pageEnd = pageOffset + geometry_.usable;
    reserveInHugePages(rows, static_cast<std::size_t>(header->cellCount));
    for (std::int64_t i = 0; i < header->cellCount; ++i) {
      const std::int64_t cell = pageOffset + cellPointer(image, pageOffset, *header, i);
      if (cell < pageOffset || cell >= pageEnd) continue;
      row(image, cell, pageEnd, leaf.owner, rows);
    }
  }

 private:
  void row(const DatabaseImage& image, std::int64_t at, std::int64_t pageEnd, int owner,
           std::vector<LiveRow>& rows) {
    const auto cell = tableCellAt(image, at, pageEnd, geometry_);
    if (!cell) return;
    LiveRow live;
    live.rowid = cell->rowid;
    live.overflow = cell->overflowPage;
    if (owner < 0) {
      if (live.overflow != 0) rows.push_back(live);
      return;
    }
    // A payload all on its page is read where it lies; one that spilled is put together.
    std::optional<std::vector<std::uint8_t>> assembled;
    const std::uint8_t* payload = image.data() + cell->payloadOffset;
    std::size_t size = static_cast<std::size_t>(cell->localLength);
    if (cell->overflowPage != 0) {
      assembled =
          assemblePayload(image, *cell, geometry_, pages_.lookup(), limits_.maxOverflowPages);
      payload = assembled ? assembled->data() : nullptr;
      size = assembled ? assembled->size() : 0;
    }
    if (payload != nullptr) {
      live.payload = payloadDigest(payload, size);
      const TableDefinition& table = schema_.tables[static_cast<std::size_t>(owner)];
      if (readRecordHeaderInto(payload, size, table.columns.size(), &header_)) {
        live.values = recordValuesDigest(header_, payload + header_.headerLength,
                                         table.columns.size(), table.rowidAliasColumn());
      }
    }
    rows.push_back(live);
  }

  const TableSchema& schema_;
  const DatabasePages& pages_;
  const PageGeometry& geometry_;
  const DatabaseMapLimits& limits_;
  RecordHeader header_{};  // reused for every row
};

// Where the rows of one leaf lie: [begin, end) of the list of the thread that read it.
struct LeafRows {
  std::size_t reader = 0;
  std::size_t begin = 0, end = 0;
};
// The live rows of the leaves. Each thread appends to a list of its own, leaf after leaf,
// rather than filling one small list per leaf.
struct LiveRowsRead {
  std::vector<std::vector<LiveRow>> ofReader;  // one list per thread
  std::vector<LeafRows> ofLeaf;                // per leaf, in the order of the leaves
};

// The rows of `leaves`, read on as many threads as the machine runs.
LiveRowsRead readLeaves(const std::vector<Leaf>& leaves, const TableSchema& schema,
                        const DatabasePages& pages, const PageGeometry& geometry,
                        const DatabaseMapLimits& limits) {
  const unsigned threads = leaves.size() > 64 ? workerThreads() : 1u;
  LiveRowsRead read;
  read.ofReader.resize(threads);
  read.ofLeaf.resize(leaves.size());
  std::atomic<std::size_t> next{0};
  auto work = [&](unsigned self) {
    LeafReader reader(schema, pages, geometry, limits);
    std::vector<LiveRow>& rows = read.ofReader[self];
    for (std::size_t i; (i = next.fetch_add(1)) < leaves.size();) {
      const std::size_t begin = rows.size();
      reader.read(leaves[i], rows);
      read.ofLeaf[i] = LeafRows{self, begin, rows.size()};
    }
  };
  runOnThreads(threads, work);
  return read;
}

struct FreelistWalk {
  const DatabasePages& pages;
  const PageGeometry& geometry;
  const DatabaseMapLimits& limits;
  DatabaseMap& map;

  void freelist() {
    std::uint32_t trunk = pages.headerField(32);
    std::int64_t seen = 0;
    const std::int64_t perTrunk = geometry.usable / 4 - 2;
    while (trunk != 0 && seen < limits.maxPages) {
      const auto place = pages.page(trunk);
      if (!place || map.freelist.count(trunk) != 0) return;
      const DatabaseImage& image = *place->image;
      const std::int64_t offset = place->offset;
      std::int64_t leaves = read32(image, offset + 4);
      if (leaves > perTrunk) leaves = perTrunk;
      map.freelist[trunk] = 8 + 4 * leaves;
      ++seen;
      for (std::int64_t i = 0; i < leaves; ++i) {
        const std::int64_t leaf = read32(image, offset + 8 + 4 * i);
        if (leaf < 1 || map.freelist.count(leaf) != 0) continue;
        map.freelist[leaf] = 0;
        ++seen;
      }
      trunk = read32(image, offset);
    }
  }
};

}  // namespace

std::uint64_t payloadDigest(const std::uint8_t* payload, std::size_t n) {
  Digest digest;
  digest.addBytes(payload, n);
  return digest.value() | 1;  // never 0, which stands for a payload that could not be read
}

namespace {

// Each value's kind, number and bytes: the one definition both digests of values share, so
// that a record read in place and its decoded values digest alike.
class ValuesHash {
 public:
  void add(SqlValue::Kind kind, std::int64_t integer, double real, const void* bytes,
           std::uint64_t size) {
    digest_.add(static_cast<std::uint64_t>(kind));
    if (kind == SqlValue::Kind::Integer) digest_.add(static_cast<std::uint64_t>(integer));
    if (kind == SqlValue::Kind::Real) digest_.add(std::bit_cast<std::uint64_t>(real));
    if (kind == SqlValue::Kind::Text || kind == SqlValue::Kind::Blob) {
      digest_.addBytes(bytes, static_cast<std::size_t>(size));
    }
  }
  std::uint64_t value() const { return digest_.value(); }

 private:
  Digest digest_;
};

}  // namespace

std::uint64_t valuesDigest(const SqlValues& values, int skip) {
  ValuesHash hash;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (static_cast<int>(i) == skip) continue;
    const SqlValue& v = values[i];
    hash.add(v.kind, v.integer, v.real, v.bytes().data(), v.bytes().size());
  }
  return hash.value();
}

std::uint64_t recordValuesDigest(const RecordHeader& header, const std::uint8_t* body,
                                 std::size_t columns, int skip) {
  ValuesHash hash;
  std::size_t at = 0;
  for (std::size_t i = 0; i < columns; ++i) {
    const std::int64_t type = i < header.serialTypes.size() ? header.serialTypes[i] : 0;
    const auto length = static_cast<std::size_t>(serialBodyLength(type));
    const std::uint8_t* bytes = body + at;
    at += length;
    if (static_cast<int>(i) == skip) continue;
    if (type >= 12) {
      hash.add(type % 2 == 1 ? SqlValue::Kind::Text : SqlValue::Kind::Blob, 0, 0, bytes, length);
    } else if (type == 0) {
      hash.add(SqlValue::Kind::Null, 0, 0, nullptr, 0);
    } else if (type == 7) {
      hash.add(SqlValue::Kind::Real, 0, serialReal(bytes), nullptr, 0);
    } else {
      hash.add(SqlValue::Kind::Integer, serialInteger(type, bytes), 0, nullptr, 0);
    }
  }
  return hash.value();
}

std::optional<std::uint64_t> DatabaseMap::livePayload(int table, std::int64_t rowid) const {
  if (table < 0 || static_cast<std::size_t>(table) >= liveRows.size()) return std::nullopt;
  const auto& live = liveRows[static_cast<std::size_t>(table)];
  const auto row = std::lower_bound(live.begin(), live.end(), rowid,
                                    [](const std::pair<std::int64_t, std::uint64_t>& r,
                                       std::int64_t id) { return r.first < id; });
  if (row == live.end() || row->first != rowid) return std::nullopt;
  return row->second;
}

bool DatabaseMap::holdsLiveValues(int table, std::uint64_t digest) const {
  if (table < 0 || static_cast<std::size_t>(table) >= liveValues.size()) return false;
  return liveValues[static_cast<std::size_t>(table)].contains(digest);
}

int DatabaseMap::tableOf(std::int64_t page) const {
  const auto found = owner.find(page);
  return found == owner.end() ? -1 : std::max(found->second, -1);
}

DatabaseMap mapDatabase(const DatabaseImage& image, const TableSchema& schema,
                        const DatabaseMapLimits& limits) {
  return mapDatabase(DatabasePages(image), schema, limits);
}

DatabaseMap mapDatabase(const DatabasePages& pages, const TableSchema& schema,
                        const DatabaseMapLimits& limits) {
  DatabaseMap map;
  map.liveRows.resize(schema.tables.size());
  const PageGeometry& geometry = pages.geometry();
  if (!geometry.valid()) return map;
  map.headerPageCount = pages.headerField(28);
  // The first pointer-map page is page 2, and one follows every usable / 5 pages it maps.
  if (pages.headerField(52) != 0) map.pointerMapStride = geometry.usable / 5 + 1;
  map.owner.reserve(static_cast<std::size_t>(std::min(pages.pageCount() + 1, limits.maxPages)));
  Walk walk{schema, pages, geometry, limits, map, {}};
  walk.tree(1, DatabaseMap::kOtherTree, 0);
  for (std::size_t t = 0; t < schema.tables.size(); ++t) {
    if (schema.tables[t].withoutRowid) {
      walk.tree(schema.tables[t].rootPage, DatabaseMap::kOtherTree, 0);
    } else {
      walk.tree(schema.tables[t].rootPage, static_cast<int>(t), 0);
    }
  }
  for (std::int64_t root : schema.otherRootPages) walk.tree(root, DatabaseMap::kOtherTree, 0);
  const auto rows = readLeaves(walk.leaves, schema, pages, geometry, limits);
  std::vector<std::size_t> counts(schema.tables.size(), 0);
  for (std::size_t i = 0; i < walk.leaves.size(); ++i) {
    if (walk.leaves[i].owner >= 0)
      counts[static_cast<std::size_t>(walk.leaves[i].owner)] +=
          rows.ofLeaf[i].end - rows.ofLeaf[i].begin;
  }
  std::vector<std::vector<std::uint64_t>> liveValues(schema.tables.size());
  for (std::size_t t = 0; t < counts.size(); ++t) {
    reserveInHugePages(map.liveRows[t], counts[t]);
    reserveInHugePages(liveValues[t], counts[t]);
  }
  for (std::size_t i = 0; i < walk.leaves.size(); ++i) {
    const int owner = walk.leaves[i].owner;
    const LeafRows& leaf = rows.ofLeaf[i];
    for (std::size_t r = leaf.begin; r < leaf.end; ++r) {
      const LiveRow& row = rows.ofReader[leaf.reader][r];
      if (row.overflow != 0) walk.markOverflow(row.overflow);
      if (owner < 0) continue;
      map.liveRows[static_cast<std::size_t>(owner)].emplace_back(row.rowid, row.payload);
      if (row.values) liveValues[static_cast<std::size_t>(owner)].push_back(*row.values);
    }
  }
  for (std::size_t t = 0; t < counts.size(); ++t) {
    // The leaves come in key order, so the rowids are mostly in order already. A damaged
    // tree may list a rowid twice: the row read last stands, as it would on a lookup.
    auto& live = map.liveRows[t];
    const auto byRowid = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(live.begin(), live.end(), byRowid)) {
      std::stable_sort(live.begin(), live.end(), byRowid);
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < live.size(); ++i) {
      if (i + 1 < live.size() && live[i + 1].first == live[i].first) continue;
      live[kept++] = live[i];
    }
    live.resize(kept);
    map.liveValues.emplace_back(liveValues[t]);
  }
  FreelistWalk{pages, geometry, limits, map}.freelist();
  return map;
}

}  // namespace carve
