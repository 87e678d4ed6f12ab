#include "carve/btree_cells.h"

#include <algorithm>
#include <set>

#include "carve/record_format.h"
#include "carve/varint.h"

namespace carve {

PageGeometry geometryWithPageSize(const DatabaseImage& image, std::int64_t pageSize) {
  PageGeometry geometry;
  if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) return geometry;
  geometry.pageSize = pageSize;
  geometry.usable = pageSize - image.at(20);
  if (geometry.usable < 480) geometry = PageGeometry{};
  return geometry;
}

PageGeometry geometryOf(const DatabaseImage& image) {
  std::int64_t pageSize = read16(image, 16);
  if (pageSize == 1) pageSize = 65536;
  return geometryWithPageSize(image, pageSize);
}

DatabasePages::DatabasePages(const DatabaseImage& image)
    : file_(&image), geometry_(geometryOf(image)) {
  if (geometry_.valid()) pageCount_ = image.size() / geometry_.pageSize;
}

DatabasePages::DatabasePages(const DatabaseImage& file, const PageGeometry& geometry,
                             std::int64_t pageCount, const DatabaseImage& log,
                             const std::unordered_map<std::int64_t, std::int64_t>& moved)
    : file_(&file),
      log_(&log),
      moved_(&moved),
      geometry_(geometry),
      pageCount_(geometry.valid() ? pageCount : 0) {}

std::optional<PagePlace> DatabasePages::page(std::int64_t page) const {
  if (page < 1 || page > pageCount_ || file_ == nullptr) return std::nullopt;
  PagePlace place{file_, (page - 1) * geometry_.pageSize};
  if (moved_ != nullptr) {
    if (const auto found = moved_->find(page); found != moved_->end()) {
      place = PagePlace{log_, found->second};
    }
  }
  if (place.offset + geometry_.pageSize > place.image->size()) return std::nullopt;
  return place;
}

std::uint32_t DatabasePages::headerField(std::int64_t offset) const {
  const auto first = page(1);
  return first ? read32(*first->image, first->offset + offset) : 0;
}

std::optional<BtreePageHeader> readPageHeader(const DatabaseImage& image, std::int64_t pageOffset,
                                              std::int64_t headerOffset,
                                              const PageGeometry& geometry) {
  if (!geometry.valid()) return std::nullopt;
  const std::int64_t at = pageOffset + headerOffset;
  BtreePageHeader header;
  header.kind = image.at(at);
  if (header.kind != kTableLeaf && header.kind != kTableInterior && header.kind != kIndexLeaf &&
      header.kind != kIndexInterior) {
    return std::nullopt;
  }
  header.headerOffset = headerOffset;
  header.firstFreeblock = read16(image, at + 1);
  header.cellCount = read16(image, at + 3);
  header.contentStart = read16(image, at + 5);
  if (header.contentStart == 0) header.contentStart = 65536;
  const std::int64_t size = header.interior() ? 12 : 8;
  if (header.interior()) header.rightChild = read32(image, at + 8);
  header.pointerArrayEnd = headerOffset + size + 2 * header.cellCount;
  if (header.pointerArrayEnd > geometry.usable) return std::nullopt;
  return header;
}

std::int64_t cellPointer(const DatabaseImage& image, std::int64_t pageOffset,
                         const BtreePageHeader& header, std::int64_t i) {
  const std::int64_t array = pageOffset + header.headerOffset + (header.interior() ? 12 : 8);
  return read16(image, array + 2 * i);
}

std::int64_t staleCellPointersEnd(const DatabaseImage& image, std::int64_t pageOffset,
                                  std::int64_t from, std::int64_t to,
                                  const PageGeometry& geometry) {
  std::int64_t at = from;
  while (at + 2 <= to && pageOffset + at + 2 <= image.size()) {
    const std::int64_t pointer = read16(image, pageOffset + at);
    if (pointer < at + 2 || pointer >= geometry.usable) break;
    at += 2;
  }
  return at;
}

std::int64_t localPayloadSize(std::uint64_t payloadLength, std::int64_t usable) {
  const std::int64_t maxLocal = usable - 35;
  if (payloadLength <= static_cast<std::uint64_t>(maxLocal)) {
    return static_cast<std::int64_t>(payloadLength);
  }
  const std::int64_t minLocal = (usable - 12) * 32 / 255 - 23;
  const std::int64_t k =
      minLocal + static_cast<std::int64_t>((payloadLength - static_cast<std::uint64_t>(minLocal)) %
                                           static_cast<std::uint64_t>(usable - 4));
  return k <= maxLocal ? k : minLocal;
}

std::optional<std::vector<std::uint8_t>> assemblePayload(
    const DatabaseImage& image, const TableCell& cell, const PageGeometry& geometry,
    const PageLookup& lookup, std::int64_t maxPages, std::int64_t* pagesUsed) {
  if (pagesUsed != nullptr) *pagesUsed = 0;
  std::vector<std::uint8_t> payload(static_cast<std::size_t>(cell.localLength));
  image.copy(cell.payloadOffset, payload.size(), payload.data());
  std::uint64_t missing = cell.payloadLength - static_cast<std::uint64_t>(cell.localLength);
  std::uint32_t next = cell.overflowPage;
  std::set<std::uint32_t> seen;
  const std::int64_t perPage = geometry.usable - 4;
  while (missing > 0) {
    if (next == 0 || !seen.insert(next).second ||
        static_cast<std::int64_t>(seen.size()) > maxPages) {
      return std::nullopt;
    }
    const std::optional<PagePlace> place = lookup(next);
    if (!place || place->image == nullptr ||
        place->offset + geometry.usable > place->image->size()) {
      return std::nullopt;
    }
    const std::uint64_t take =
        std::min<std::uint64_t>(missing, static_cast<std::uint64_t>(perPage));
    const std::size_t at = payload.size();
    payload.resize(at + take);
    place->image->copy(place->offset + 4, take, payload.data() + at);
    missing -= take;
    next = read32(*place->image, place->offset);
  }
  if (pagesUsed != nullptr) *pagesUsed = static_cast<std::int64_t>(seen.size());
  return payload;
}

}  // namespace carve
