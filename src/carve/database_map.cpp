#include "carve/database_map.h"

#include <bit>
#include <string_view>

#include "carve/digest.h"
#include "carve/record_format.h"

namespace carve {

namespace {

struct Walk {
  const TableSchema& schema;
  const DatabaseImage& image;
  const PageGeometry& geometry;
  const DatabaseMapLimits& limits;
  DatabaseMap& map;
  RecordHeader header{};  // reused for every live row

  bool claim(std::int64_t page, int owner) {
    if (page < 1 || static_cast<std::int64_t>(map.owner.size()) >= limits.maxPages) return false;
    if ((page - 1) * geometry.pageSize + geometry.pageSize > image.size()) return false;
    return map.owner.emplace(page, owner).second;
  }

  std::optional<PagePlace> place(std::int64_t page) const {
    if (page < 1) return std::nullopt;
    return PagePlace{&image, (page - 1) * geometry.pageSize};
  }

  void markOverflow(std::uint32_t first) {
    std::uint32_t next = first;
    for (std::int64_t n = 0; next != 0 && n < limits.maxOverflowPages; ++n) {
      if (!claim(next, DatabaseMap::kOverflowPage)) return;
      next = read32(image, (next - 1) * geometry.pageSize);
    }
  }

  void tree(std::int64_t page, int owner, int depth) {
    if (depth > limits.maxDepth || !claim(page, owner)) return;
    const std::int64_t pageOffset = (page - 1) * geometry.pageSize;
    const auto header = readPageHeader(image, pageOffset, page == 1 ? 100 : 0, geometry);
    if (!header) return;
    const std::int64_t pageEnd = pageOffset + geometry.usable;
    for (std::int64_t i = 0; i < header->cellCount; ++i) {
      const std::int64_t cell = pageOffset + cellPointer(image, pageOffset, *header, i);
      if (cell < pageOffset || cell >= pageEnd) continue;
      if (header->interior()) {
        tree(read32(image, cell), owner, depth + 1);
      } else if (header->kind == kTableLeaf) {
        leafCell(cell, pageEnd, owner);
      }
    }
    if (header->interior()) tree(header->rightChild, owner, depth + 1);
  }

  void leafCell(std::int64_t at, std::int64_t pageEnd, int owner) {
    const auto cell = tableCellAt(image, at, pageEnd, geometry);
    if (!cell) return;
    if (cell->overflowPage != 0) markOverflow(cell->overflowPage);
    if (owner < 0) return;
    // A payload all on its page is read where it lies; one that spilled is put together.
    std::optional<std::vector<std::uint8_t>> assembled;
    const std::uint8_t* payload = image.data() + cell->payloadOffset;
    std::size_t size = static_cast<std::size_t>(cell->localLength);
    if (cell->overflowPage != 0) {
      assembled = assemblePayload(
          image, *cell, geometry, [this](std::int64_t p) { return place(p); },
          limits.maxOverflowPages);
      payload = assembled ? assembled->data() : nullptr;
      size = assembled ? assembled->size() : 0;
    }
    map.liveRows[static_cast<std::size_t>(owner)][cell->rowid] =
        payload != nullptr ? payloadDigest(payload, size) : 0;
    if (payload == nullptr) return;
    const TableDefinition& table = schema.tables[static_cast<std::size_t>(owner)];
    if (!readRecordHeaderInto(payload, size, table.columns.size(), &header)) return;
    map.liveValues[static_cast<std::size_t>(owner)].insert(recordValuesDigest(
        header, payload + header.headerLength, table.columns.size(), table.rowidAliasColumn()));
  }

  void freelist() {
    std::uint32_t trunk = read32(image, 32);
    std::int64_t seen = 0;
    const std::int64_t perTrunk = geometry.usable / 4 - 2;
    while (trunk != 0 && seen < limits.maxPages) {
      const std::int64_t offset = (std::int64_t{trunk} - 1) * geometry.pageSize;
      if (offset + geometry.pageSize > image.size() || map.freelist.count(trunk) != 0) return;
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

std::uint64_t valuesDigest(const std::vector<SqlValue>& values, int skip) {
  ValuesHash hash;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (static_cast<int>(i) == skip) continue;
    const SqlValue& v = values[i];
    hash.add(v.kind, v.integer, v.real, v.bytes.data(), v.bytes.size());
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
    } else {
      const SqlValue value = decodeValue(type, bytes);
      hash.add(value.kind, value.integer, value.real, nullptr, 0);
    }
  }
  return hash.value();
}

int DatabaseMap::tableOf(std::int64_t page) const {
  const auto found = owner.find(page);
  return found == owner.end() ? -1 : std::max(found->second, -1);
}

DatabaseMap mapDatabase(const DatabaseImage& image, const TableSchema& schema,
                        const DatabaseMapLimits& limits) {
  DatabaseMap map;
  map.liveRows.resize(schema.tables.size());
  const PageGeometry geometry = geometryOf(image);
  if (!geometry.valid()) return map;
  map.headerPageCount = read32(image, 28);
  map.liveValues.resize(schema.tables.size());
  Walk walk{schema, image, geometry, limits, map, {}};
  walk.tree(1, DatabaseMap::kOtherTree, 0);
  for (std::size_t t = 0; t < schema.tables.size(); ++t) {
    if (schema.tables[t].withoutRowid) {
      walk.tree(schema.tables[t].rootPage, DatabaseMap::kOtherTree, 0);
    } else {
      walk.tree(schema.tables[t].rootPage, static_cast<int>(t), 0);
    }
  }
  for (std::int64_t root : schema.otherRootPages) walk.tree(root, DatabaseMap::kOtherTree, 0);
  walk.freelist();
  return map;
}

}  // namespace carve
