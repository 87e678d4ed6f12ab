// The shape of an index leaf page's cells, read from its live cells: how many columns their
// records hold and what each column holds. The gap of an index leaf keeps the cells of the
// same index that were deleted or moved away, end to end; where one of this shape lies
// whole, no other cell begins inside it, and a carver probing the gap passes over its bytes.
//
// Every read is bounded by the end given and by the image. A cell that spilled to overflow
// pages, or a record that does not take its payload exactly, has no shape here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "carve/btree_cells.h"
#include "carve/database_image.h"

namespace carve {

class IndexCellShape {
 public:
  // The shape the live cells of the index leaf page at `pageOffset` share; none (columns()
  // 0) when they do not agree, none reads, or the page is no index leaf.
  static IndexCellShape ofPage(const DatabaseImage& image, std::int64_t pageOffset,
                               const BtreePageHeader& header, const PageGeometry& geometry);

  std::size_t columns() const { return columns_; }

  // Where the cell of this shape at `at` ends, when one lies whole in [at, end): its
  // record's every column holds what the live cells' column holds (or NULL), its last column
  // (the row's rowid) an integer.
  std::optional<std::int64_t> cellEnd(const DatabaseImage& image, std::int64_t at,
                                      std::int64_t end) const;

  // Most columns an index record is read with; an index of more has no shape here.
  static constexpr std::size_t kMaxColumns = 16;

 private:
  // What a record's column holds, a bit each: NULL, integer, real, text, blob.
  static std::uint8_t kindOf(std::uint64_t serialType);
  // The cell at `at` read within [at, end): its column count and each column's kind bit into
  // `kinds`, and where it ends; with `shape`, none unless every column fits it.
  static std::optional<std::int64_t> readCell(const DatabaseImage& image, std::int64_t at,
                                              std::int64_t end, std::int64_t maxLocal,
                                              const IndexCellShape* shape, std::size_t* columns,
                                              std::array<std::uint8_t, kMaxColumns>* kinds);

  std::size_t columns_ = 0;
  std::int64_t maxLocal_ = 0;  // the most payload an index cell keeps on its page
  std::array<std::uint8_t, kMaxColumns> kinds_{};
};

}  // namespace carve
