// SQLite's variable-length integers, read out of a database image with an end.
//
// A varint is one to nine bytes, most significant group first: each of the first eight
// bytes gives its low seven bits and continues while its high bit is set; a ninth byte
// gives all eight of its bits. The carvers read varints at offsets they only guess at (in
// free space, in damaged pages), so the decoder here never reads at or past the end it is
// given, nor outside the image, and a varint cut off by that end is no varint at all
// rather than one finished with zero bytes.
#pragma once

#include <cstdint>

#include "carve/database_image.h"

namespace carve {

// A decoded varint: its value and the number of bytes it takes (1 to 9), or a length of 0
// when there was none to decode.
struct Varint {
  std::uint64_t value = 0;
  int length = 0;

  explicit operator bool() const { return length != 0; }
};

// The most bytes a varint takes.
inline constexpr int kMaxVarintLength = 9;

// The varint that begins at `offset`, reading only bytes in [offset, end) that lie inside the
// image; none when it does not end before `end` (or the image), or `offset` is before the
// image.
inline Varint varintAt(const DatabaseImage& file, std::int64_t offset, std::int64_t end) {
  const std::int64_t stop = end < file.size() ? end : file.size();
  if (offset < 0 || offset >= stop) return {};
  const std::uint8_t* bytes = file.data() + offset;
  const std::int64_t available = stop - offset;
  std::uint64_t value = 0;
  for (int k = 0; k < kMaxVarintLength - 1; ++k) {
    if (k >= available) return {};
    value = (value << 7) | (bytes[k] & 0x7F);
    if ((bytes[k] & 0x80) == 0) return {value, k + 1};
  }
  if (available < kMaxVarintLength) return {};
  return {(value << 8) | bytes[kMaxVarintLength - 1], kMaxVarintLength};
}

// As varintAt, with a value above 0xFFFFFFFF clamped to 0xFFFFFFFF, as SQLite does where it
// reads a header length or a serial type into 32 bits: a serial type that large describes
// no body a page can hold, and the clamp keeps it from wrapping to a small one.
Varint varint32At(const DatabaseImage& file, std::int64_t offset, std::int64_t end);

// `value` clamped to 32 bits as varint32At clamps it.
constexpr std::uint32_t clampTo32(std::uint64_t value) {
  return value > 0xFFFFFFFFULL ? 0xFFFFFFFFU : static_cast<std::uint32_t>(value);
}

}  // namespace carve
