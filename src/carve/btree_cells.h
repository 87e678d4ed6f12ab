// The b-tree page layout read out of an image: page headers, cell pointers, table cells and
// their overflow chains. Every read is bounded by the page (or by an end the caller gives)
// and by the image; a number that points outside is refused, never followed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "carve/database_image.h"
#include "carve/record_format.h"

namespace carve {

// Page size and usable size (page size less the reserved bytes at offset 20) of a database
// header; both 0 when the page size is no power of two from 512 to 65536.
struct PageGeometry {
  std::int64_t pageSize = 0;
  std::int64_t usable = 0;
  bool valid() const { return pageSize >= 512 && usable >= 480; }
};
PageGeometry geometryOf(const DatabaseImage& image);
// The geometry of `pageSize` with the reserved bytes of `image`'s header.
PageGeometry geometryWithPageSize(const DatabaseImage& image, std::int64_t pageSize);

inline constexpr std::uint8_t kTableLeaf = 0x0D, kTableInterior = 0x05, kIndexLeaf = 0x0A,
                              kIndexInterior = 0x02;

// The header of the b-tree page whose bytes begin at `pageOffset`; page 1 keeps it after
// the 100-byte database header (`headerOffset` 100). None when the kind byte is no b-tree
// kind or the cell pointer array runs past the page.
struct BtreePageHeader {
  std::uint8_t kind = 0;
  std::int64_t headerOffset = 0;  // from the page start
  std::int64_t firstFreeblock = 0;
  std::int64_t cellCount = 0;
  std::int64_t contentStart = 0;     // 0 stands for 65536
  std::uint32_t rightChild = 0;      // interior pages
  std::int64_t pointerArrayEnd = 0;  // from the page start
  bool interior() const { return kind == kTableInterior || kind == kIndexInterior; }
};
std::optional<BtreePageHeader> readPageHeader(const DatabaseImage& image, std::int64_t pageOffset,
                                              std::int64_t headerOffset,
                                              const PageGeometry& geometry);

// The offset from the page start of cell `i`.
std::int64_t cellPointer(const DatabaseImage& image, std::int64_t pageOffset,
                         const BtreePageHeader& header, std::int64_t i);

// Where the run of stale cell pointers that follows a page's cell pointer array ends: a
// page that held more cells keeps their pointers past the array's end, two bytes each, every
// one pointing past itself and inside the page. Read from `from` (the array's end, from the
// page start) by two bytes while they so point, up to `to`; `from` when none does.
std::int64_t staleCellPointersEnd(const DatabaseImage& image, std::int64_t pageOffset,
                                  std::int64_t from, std::int64_t to, const PageGeometry& geometry);

// How many bytes of a table leaf cell's payload of `payloadLength` bytes stay on its page.
std::int64_t localPayloadSize(std::uint64_t payloadLength, std::int64_t usable);

// A table leaf cell: payload length, rowid, the local part of the payload and the first
// overflow page.
struct TableCell {
  std::uint64_t payloadLength = 0;
  std::int64_t rowid = 0;
  std::int64_t payloadOffset = 0;  // absolute, in the image
  std::int64_t localLength = 0;
  std::uint32_t overflowPage = 0;  // 0 when the payload is all local
  std::int64_t end = 0;            // absolute offset just past the cell
};

// Where a page lies: its image and the offset of its bytes, or none.
struct PagePlace {
  const DatabaseImage* image = nullptr;
  std::int64_t offset = 0;
};
using PageLookup = std::function<std::optional<PagePlace>(std::int64_t page)>;

// The pages of one state of a database, each where it lies: a flat image holds page n at
// (n - 1) * page size; the state a write-ahead log leaves takes a page from the last frame
// that committed it and every other page from the file, so that no copy of the file is made.
// A view: the images and the map of moved pages must outlive it.
class DatabasePages {
 public:
  DatabasePages() = default;
  // Every whole page of `image`, with the geometry of its header.
  explicit DatabasePages(const DatabaseImage& image);
  // Pages 1 to `pageCount` of `geometry`: those `moved` names (page -> offset in `log`) from
  // `log`, the others from `file`.
  DatabasePages(const DatabaseImage& file, const PageGeometry& geometry, std::int64_t pageCount,
                const DatabaseImage& log,
                const std::unordered_map<std::int64_t, std::int64_t>& moved);

  const PageGeometry& geometry() const { return geometry_; }
  std::int64_t pageCount() const { return pageCount_; }
  // Where page `page` lies whole; none past the last page or where its image ends early.
  std::optional<PagePlace> page(std::int64_t page) const;
  // A big-endian field of the database header (page 1); 0 when page 1 is missing.
  std::uint32_t headerField(std::int64_t offset) const;
  // The lookup of page() for readers of overflow chains.
  PageLookup lookup() const {
    return [this](std::int64_t n) { return page(n); };
  }

 private:
  const DatabaseImage* file_ = nullptr;
  const DatabaseImage* log_ = nullptr;
  const std::unordered_map<std::int64_t, std::int64_t>* moved_ = nullptr;
  PageGeometry geometry_;
  std::int64_t pageCount_ = 0;
};

// The payload of `cell` (local part then the overflow chain, each overflow page's first four
// bytes naming the next), or none when the chain ends early, repeats a page, or needs more
// than `maxPages` pages. `pagesUsed` gets the chain's length.
std::optional<std::vector<std::uint8_t>> assemblePayload(
    const DatabaseImage& image, const TableCell& cell, const PageGeometry& geometry,
    const PageLookup& lookup, std::int64_t maxPages, std::int64_t* pagesUsed = nullptr);

// Big-endian numbers of the image.
// Inline: the carvers read them at every offset they probe.
inline std::uint32_t read32(const DatabaseImage& image, std::int64_t offset) {
  if (offset >= 0 && offset + 4 <= image.size()) {
    const std::uint8_t* b = image.data() + offset;
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           std::uint32_t{b[3]};
  }
  return (std::uint32_t{image.at(offset)} << 24) | (std::uint32_t{image.at(offset + 1)} << 16) |
         (std::uint32_t{image.at(offset + 2)} << 8) | std::uint32_t{image.at(offset + 3)};
}

// The cell at absolute `offset`, all of it before `end`; none when it does not fit. Read
// where it lies: the carvers ask this at every offset of free space.
inline std::optional<TableCell> tableCellAt(const DatabaseImage& image, std::int64_t offset,
                                            std::int64_t end, const PageGeometry& geometry) {
  if (!geometry.valid()) return std::nullopt;
  // Both varints are read within [offset, end) and the image.
  const std::int64_t stop = end < image.size() ? end : image.size();
  if (offset < 0 || offset >= stop) return std::nullopt;
  const std::uint8_t* bytes = image.data() + offset;
  const auto available = static_cast<std::size_t>(stop - offset);
  const SpanVarint length = spanVarint(bytes, available);
  if (length.length == 0 || length.value == 0 || length.value > (1ULL << 31)) return std::nullopt;
  const auto afterLength = static_cast<std::size_t>(length.length);
  const SpanVarint rowid = spanVarint(bytes + afterLength, available - afterLength);
  if (rowid.length == 0) return std::nullopt;
  TableCell cell;
  cell.payloadLength = length.value;
  cell.rowid = static_cast<std::int64_t>(rowid.value);
  cell.payloadOffset = offset + length.length + rowid.length;
  cell.localLength = length.value <= static_cast<std::uint64_t>(geometry.usable - 35)
                         ? static_cast<std::int64_t>(length.value)  // all on the page
                         : localPayloadSize(length.value, geometry.usable);
  cell.end = cell.payloadOffset + cell.localLength;
  if (cell.localLength < static_cast<std::int64_t>(length.value)) {
    cell.overflowPage = read32(image, cell.end);
    cell.end += 4;
    if (cell.overflowPage == 0) return std::nullopt;
  }
  if (cell.end > end || cell.end > image.size()) return std::nullopt;
  return cell;
}

inline std::uint32_t read16(const DatabaseImage& image, std::int64_t offset) {
  if (offset >= 0 && offset + 2 <= image.size()) {
    const std::uint8_t* b = image.data() + offset;
    return (std::uint32_t{b[0]} << 8) | std::uint32_t{b[1]};
  }
  return (std::uint32_t{image.at(offset)} << 8) | std::uint32_t{image.at(offset + 1)};
}

}  // namespace carve
