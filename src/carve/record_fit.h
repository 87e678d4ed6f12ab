// Whether a record fits a table of the schema, and its values when it does.
//
// A record fits a table when it has as many serial types as the table has columns or fewer
// (at least half of them: columns added later by ALTER TABLE are missing from old records),
// each type is one the column's affinity stores (the rowid alias column is NULL; INTEGER and
// REAL columns hold numbers and NULL; TEXT columns text, NULL and the empty blob, since a
// blob there, though legal, is rare and lets chance bytes fit; NUMERIC and untyped columns
// anything), texts are valid UTF-8 without NUL bytes, integers and reals in columns named as dates
// (ending in "date", "time" or "timestamp") are 0 or a plausible point in time (seconds,
// milliseconds, microseconds or nanoseconds since 1970 or 2001), and at least one column (two in a
// table of four columns or more) besides the rowid alias holds a value.
//
// One exception to the TEXT rule: Core Data (a table with Z_PK and Z_ENT columns) stores some
// text attributes as bytes (a call's address), so fitTable() takes a blob in a TEXT column of
// such a table when its bytes read as a text of three printable characters or more;
// typeFits() says which serial types a column of a given table takes, this included.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "carve/record_format.h"
#include "carve/sqlite_values.h"
#include "carve/table_schema.h"

namespace carve {

inline bool serialTypeFits(const TableColumn& column, std::int64_t type) {
  if (type == 10 || type == 11 || type < 0) return false;
  if (column.rowidAlias) return type == 0;
  const bool text = type >= 13 && type % 2 == 1;
  const bool blob = type >= 12 && type % 2 == 0;
  switch (column.affinity) {
    case Affinity::Integer:
    case Affinity::Real:
      return type <= 9;
    case Affinity::Text:
      // A blob in a text column is legal but rare; allowing it lets random bytes fit.
      return type == 0 || text || type == 12;
    case Affinity::Numeric:
      return type <= 9 || text || blob;
    case Affinity::Blob:
      return true;
  }
  return false;
}

bool plausibleDate(const SqlValue& value);
bool validUtf8(const std::uint8_t* bytes, std::size_t n);
inline bool validUtf8(const std::string& bytes) {
  return validUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

class TableFitter {
 public:
  explicit TableFitter(const TableSchema& schema);

  // The table the record with `header` (its bodies at `body`, `bodyLength` bytes readable)
  // fits: `owner` (the table whose b-tree holds the page, -1 none) when it fits, else the
  // carvable table with the closest column count. None when no table fits. The values are
  // left unmade (valuesOf()).
  std::optional<int> fittingTable(const RecordHeader& header, const std::uint8_t* body,
                                  std::size_t bodyLength, int owner) const;
  // Whether the record fits table `table` alone, its values left unmade.
  bool fitsTable(int table, const RecordHeader& header, const std::uint8_t* body,
                 std::size_t bodyLength) const;
  // The values of a record that fitsTable() took: one per column of `table`, missing ones
  // NULL, in memory from `allocator`. With `borrow`, texts and blobs are taken where they
  // lie in `body`, which the allocator's arena keeps alive (see decodeValueInto()).
  SqlValues valuesOf(int table, const RecordHeader& header, const std::uint8_t* body,
                     const ArenaAllocator<SqlValue>& allocator = {}, bool borrow = false) const;
  // Whether the record fits table `table` alone; its values when it does.
  std::optional<SqlValues> fitTable(int table, const RecordHeader& header, const std::uint8_t* body,
                                    std::size_t bodyLength,
                                    const ArenaAllocator<SqlValue>& allocator = {}) const;

  // Whether column `column` of `table` takes serial type `type`: serialTypeFits(), and a
  // blob in a TEXT column of a Core Data table (its bytes still to be read as text).
  bool typeFits(int table, std::size_t column, std::int64_t type) const {
    return typeFitsMask(typeMasks(table), column, type);
  }
  // The same with the masks of the table's columns taken once: typeMasks(table).
  const std::uint8_t* typeMasks(int table) const {
    return typeMasks_[static_cast<std::size_t>(table)].data();
  }
  static bool typeFitsMask(const std::uint8_t* masks, std::size_t column, std::int64_t type) {
    const int kind = typeKind(type);
    return kind >= 0 && ((masks[column] >> kind) & 1) != 0;
  }

  // Whether the first serial types of a header, read from its `n` bytes of types, may fit the
  // first columns of some carved table: a quick look that turns most chance bytes away
  // before the header is read whole.
  bool leadingTypesMayFit(const std::uint8_t* types, std::size_t n) const {
    std::size_t at = 0;
    for (std::size_t i = 0; i < leadingMasks_.size() && at < n; ++i) {
      const SpanVarint type = spanVarint(types + at, n - at);
      if (type.length == 0 || type.value > 0x7FFFFFFF) return false;
      if (!typeFitsMask(leadingMasks_.data(), i, static_cast<std::int64_t>(type.value))) {
        return false;
      }
      at += static_cast<std::size_t>(type.length);
    }
    return true;
  }

  // The tables carved (sqlite_* left out), by index into the schema's tables.
  const std::vector<int>& carvable() const { return carvable_; }
  // True when the table is carved on its own pages only (its columns mostly untyped).
  bool ownPagesOnly(int table) const { return weak_[static_cast<std::size_t>(table)]; }
  // The fewest serial types a record of `table` may have.
  std::size_t minColumns(int table) const;
  std::size_t maxColumns() const { return maxColumns_; }
  const TableSchema& schema() const { return schema_; }

 private:
  // Serial types by what a column may take: 0 NULL, 1 numbers (1 to 9), 2 the empty blob,
  // 3 texts, 4 other blobs; -1 reserved.
  static int typeKind(std::int64_t type) {
    if (type < 0 || type == 10 || type == 11) return -1;
    if (type == 0) return 0;
    if (type <= 9) return 1;
    if (type == 12) return 2;
    return type % 2 == 1 ? 3 : 4;
  }

  const TableSchema& schema_;
  // Per table, per column: bit k set when the column takes serial types of kind k.
  std::vector<std::vector<std::uint8_t>> typeMasks_;
  // Per leading column: the kinds any carved table with that column takes there.
  std::array<std::uint8_t, 3> leadingMasks_{};
  std::vector<int> carvable_;
  std::vector<bool> weak_;
  std::vector<bool> textBlobs_;  // Core Data tables: a blob in a TEXT column may be text
  std::vector<std::vector<bool>> dateColumns_;
  std::size_t maxColumns_ = 0;
};

}  // namespace carve
