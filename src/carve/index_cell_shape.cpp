#include "carve/index_cell_shape.h"

#include "carve/record_format.h"

namespace carve {

namespace {

constexpr std::uint8_t kNull = 1, kInteger = 2, kReal = 4, kText = 8, kBlob = 16;

// Live cells read for the shape: enough to see each column's kinds without reading a full
// page's.
constexpr std::int64_t kCellsRead = 16;

}  // namespace

std::uint8_t IndexCellShape::kindOf(std::uint64_t serialType) {
  if (serialType == 0) return kNull;
  if (serialType == 7) return kReal;
  if (serialType <= 9) return kInteger;
  if (serialType == 10 || serialType == 11) return 0;
  return serialType % 2 == 1 ? kText : kBlob;
}

std::optional<std::int64_t> IndexCellShape::readCell(const DatabaseImage& image, std::int64_t at,
                                                     std::int64_t end, std::int64_t maxLocal,
                                                     const IndexCellShape* shape,
                                                     std::size_t* columns,
                                                     std::array<std::uint8_t, kMaxColumns>* kinds) {
  if (at < 0 || end > image.size() || at >= end) return std::nullopt;
  const std::uint8_t* bytes = image.data() + at;
  const auto n = static_cast<std::size_t>(end - at);
  const SpanVarint payload = spanVarint(bytes, n);
  if (payload.length == 0 || payload.value < 2 ||
      payload.value > static_cast<std::uint64_t>(maxLocal) ||
      payload.value > n - static_cast<std::size_t>(payload.length)) {
    return std::nullopt;
  }
  const std::uint8_t* record = bytes + payload.length;
  const auto size = static_cast<std::size_t>(payload.value);
  const SpanVarint headerLength = spanVarint(record, size);
  if (headerLength.length == 0 || headerLength.value > size ||
      headerLength.value <= static_cast<std::uint64_t>(headerLength.length)) {
    return std::nullopt;
  }
  std::size_t count = 0;
  std::uint64_t bodies = 0;
  std::uint64_t last = 0;
  for (auto p = static_cast<std::size_t>(headerLength.length); p < headerLength.value;) {
    const SpanVarint type = spanVarint(record + p, headerLength.value - p);
    if (type.length == 0 || count == kMaxColumns) return std::nullopt;
    const std::uint8_t kind = kindOf(type.value);
    if (kind == 0) return std::nullopt;
    if (shape != nullptr && (count >= shape->columns_ || (shape->kinds_[count] & kind) == 0)) {
      return std::nullopt;
    }
    (*kinds)[count] = kind;
    bodies += static_cast<std::uint64_t>(serialBodyLength(
        static_cast<std::int64_t>(type.value > 0xFFFFFFFF ? 0xFFFFFFFF : type.value)));
    last = type.value;
    ++count;
    p += static_cast<std::size_t>(type.length);
  }
  // The last column is the rowid of the indexed row; the record takes its payload exactly.
  if (count < 2 || kindOf(last) != kInteger || headerLength.value + bodies != payload.value) {
    return std::nullopt;
  }
  if (shape != nullptr && count != shape->columns_) return std::nullopt;
  *columns = count;
  return at + payload.length + static_cast<std::int64_t>(payload.value);
}

IndexCellShape IndexCellShape::ofPage(const DatabaseImage& image, std::int64_t pageOffset,
                                      const BtreePageHeader& header, const PageGeometry& geometry) {
  IndexCellShape shape;
  if (header.kind != kIndexLeaf || !geometry.valid()) return shape;
  shape.maxLocal_ = (geometry.usable - 12) * 64 / 255 - 23;
  const std::int64_t pageEnd = std::min(pageOffset + geometry.usable, image.size());
  std::size_t columns = 0;
  for (std::int64_t i = 0; i < header.cellCount && i < kCellsRead; ++i) {
    const std::int64_t at = pageOffset + cellPointer(image, pageOffset, header, i);
    if (at < pageOffset + header.pointerArrayEnd || at >= pageEnd) return {};
    std::size_t count = 0;
    std::array<std::uint8_t, kMaxColumns> kinds{};
    if (!readCell(image, at, pageEnd, shape.maxLocal_, nullptr, &count, &kinds)) return {};
    if (columns != 0 && count != columns) return {};
    columns = count;
    for (std::size_t c = 0; c < count; ++c) shape.kinds_[c] |= kinds[c];
  }
  if (columns == 0) return {};
  // An old row may hold NULL where the live ones hold values; its rowid never.
  for (std::size_t c = 0; c + 1 < columns; ++c) shape.kinds_[c] |= kNull;
  shape.columns_ = columns;
  return shape;
}

std::optional<std::int64_t> IndexCellShape::cellEnd(const DatabaseImage& image, std::int64_t at,
                                                    std::int64_t end) const {
  if (columns_ == 0) return std::nullopt;
  std::size_t count = 0;
  std::array<std::uint8_t, kMaxColumns> kinds{};
  return readCell(image, at, end, maxLocal_, this, &count, &kinds);
}

}  // namespace carve
