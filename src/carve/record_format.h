// The record format of a table row: a header (its length as a varint, then one serial type
// per column as varints) and the bodies, read out of a byte span with an end.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "carve/sqlite_values.h"

namespace carve {

// A varint of a byte span; length 0 when it does not end before `n`.
struct SpanVarint {
  std::uint64_t value = 0;
  int length = 0;
};
inline SpanVarint spanVarint(const std::uint8_t* bytes, std::size_t n) {
  if (n > 0 && bytes[0] < 0x80) return {bytes[0], 1};  // most varints of a record are one byte
  SpanVarint out;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 9 && i < n; ++i) {
    if (i == 8) {
      out.value = (value << 8) | bytes[i];
      out.length = 9;
      return out;
    }
    value = (value << 7) | (bytes[i] & 0x7F);
    if ((bytes[i] & 0x80) == 0) {
      out.value = value;
      out.length = static_cast<int>(i + 1);
      return out;
    }
  }
  return out;
}

// The body length of serial type `type`; -1 for the reserved types 10 and 11.
inline std::int64_t serialBodyLength(std::int64_t type) {
  constexpr std::int8_t kOfSmallTypes[12] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0, -1, -1};
  if (type >= 12) return (type - 12) / 2;
  return type < 0 ? -1 : kOfSmallTypes[type];
}

// The number a body of serial type 1 to 9 holds: an integer of types 1 to 6, 8 (0) and 9
// (1), read big-endian and sign-extended; the real of type 7 is `real`'s.
inline std::int64_t serialInteger(std::int64_t type, const std::uint8_t* body) {
  if (type == 8 || type == 9) return type - 8;
  const std::int64_t length = serialBodyLength(type);
  std::uint64_t value = 0;
  for (std::int64_t i = 0; i < length; ++i) value = (value << 8) | body[i];
  const int shift = 64 - static_cast<int>(length) * 8;
  return static_cast<std::int64_t>(value << shift) >> shift;  // sign-extended
}
inline double serialReal(const std::uint8_t* body) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = (value << 8) | body[i];
  return std::bit_cast<double>(value);
}

struct RecordHeader {
  std::int64_t headerLength = 0;
  std::vector<std::int64_t> serialTypes;
  std::int64_t bodyLength = 0;  // the sum of the bodies
};

// Reads the serial types of a header whose types lie in [0, n) of `bytes` and end exactly
// at `n`; none when a type does not end there, is reserved, or there are more than
// `maxColumns`.
std::optional<RecordHeader> readSerialTypes(const std::uint8_t* bytes, std::size_t n,
                                            std::size_t maxColumns);

// The record that begins at `bytes` (its header length first), all of it within `n` bytes;
// none when it does not fit.
std::optional<RecordHeader> readRecordHeader(const std::uint8_t* bytes, std::size_t n,
                                             std::size_t maxColumns);
// The same into `header`, whose storage is reused: the carvers try a record at every offset
// of free space and most tries fail. False when it does not fit (`header` then unspecified).
bool readRecordHeaderInto(const std::uint8_t* bytes, std::size_t n, std::size_t maxColumns,
                          RecordHeader* header);

// The value of a body of `type` at `body` (serialBodyLength(type) bytes, all readable).
SqlValue decodeValue(std::int64_t type, const std::uint8_t* body);
// The same, written over `value` in place: a list of values made once is filled without a
// value made and moved for each. A text's or blob's bytes are copied into `arena` when one
// is given (the arena of the row `value` is in), else onto the heap; with `borrow` they are
// taken where they lie (memory the row's arena keeps alive).
void decodeValueInto(std::int64_t type, const std::uint8_t* body, SqlValue& value,
                     ValueArena* arena = nullptr, bool borrow = false);

}  // namespace carve
