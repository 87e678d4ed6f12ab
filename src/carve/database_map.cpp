#include "carve/database_map.h"

#include <string_view>

#include "carve/record_format.h"

namespace carve {

namespace {

struct Walk {
  const TableSchema& schema;
  const DatabaseImage& image;
  const PageGeometry& geometry;
  const DatabaseMapLimits& limits;
  DatabaseMap& map;

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
    const auto payload = assemblePayload(
        image, *cell, geometry, [this](std::int64_t p) { return place(p); },
        limits.maxOverflowPages);
    map.liveRows[static_cast<std::size_t>(owner)][cell->rowid] =
        payload ? payloadDigest(*payload) : 0;
    if (!payload) return;
    const TableDefinition& table = schema.tables[static_cast<std::size_t>(owner)];
    const auto header = readRecordHeader(payload->data(), payload->size(), table.columns.size());
    if (!header) return;
    std::vector<SqlValue> values;
    std::size_t body = static_cast<std::size_t>(header->headerLength);
    for (const std::int64_t type : header->serialTypes) {
      values.push_back(decodeValue(type, payload->data() + body));
      body += static_cast<std::size_t>(serialBodyLength(type));
    }
    values.resize(table.columns.size());
    map.liveValues[static_cast<std::size_t>(owner)].insert(
        valuesDigest(values, table.rowidAliasColumn()));
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

std::uint64_t payloadDigest(const std::vector<std::uint8_t>& payload) {
  // FNV-1a: only compared with other payloads of the same database.
  std::uint64_t hash = 1469598103934665603ULL;
  for (std::uint8_t byte : payload) hash = (hash ^ byte) * 1099511628211ULL;
  return hash | 1;  // never 0, which stands for a payload that could not be read
}

std::uint64_t valuesDigest(const std::vector<SqlValue>& values, int skip) {
  std::uint64_t hash = 1469598103934665603ULL;
  auto add = [&](const void* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      hash = (hash ^ static_cast<const std::uint8_t*>(bytes)[i]) * 1099511628211ULL;
    }
  };
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (static_cast<int>(i) == skip) continue;
    const SqlValue& value = values[i];
    const auto kind = static_cast<std::uint8_t>(value.kind);
    add(&kind, 1);
    if (value.kind == SqlValue::Kind::Integer) add(&value.integer, sizeof value.integer);
    if (value.kind == SqlValue::Kind::Real) add(&value.real, sizeof value.real);
    const std::uint64_t size = value.bytes.size();
    add(&size, sizeof size);
    add(value.bytes.data(), value.bytes.size());
  }
  return hash;
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
  Walk walk{schema, image, geometry, limits, map};
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
