#include "carve/record_format.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace carve {

namespace {

// The serial types in [0, n) of `bytes`; false as soon as there are more than `maxColumns`
// or their bodies come to more than `maxBody` bytes.
bool serialTypesInto(const std::uint8_t* bytes, std::size_t n, std::size_t maxColumns,
                     std::int64_t maxBody, RecordHeader* header) {
  // Room for a type per byte, up to maxColumns, is made once; the list is cut to the types
  // read at the end.
  std::vector<std::int64_t>& types = header->serialTypes;
  const std::size_t room = std::min(n, maxColumns);
  if (types.size() < room) types.resize(room);
  std::int64_t* out = types.data();
  std::size_t count = 0;
  std::int64_t bodies = 0;
  std::size_t at = 0;
  bool read = true;
  while (at < n) {
    const SpanVarint type = spanVarint(bytes + at, n - at);
    const std::int64_t length = serialBodyLength(static_cast<std::int64_t>(type.value));
    if (count >= maxColumns || type.length == 0 || type.value > 0x7FFFFFFF || length < 0 ||
        (bodies += length) > maxBody) {
      read = false;
      break;
    }
    out[count++] = static_cast<std::int64_t>(type.value);
    at += static_cast<std::size_t>(type.length);
  }
  types.resize(count);
  header->bodyLength = bodies;
  return read;
}

}  // namespace

std::optional<RecordHeader> readSerialTypes(const std::uint8_t* bytes, std::size_t n,
                                            std::size_t maxColumns) {
  RecordHeader header;
  if (!serialTypesInto(bytes, n, maxColumns, INT64_MAX, &header)) return std::nullopt;
  return header;
}

bool readRecordHeaderInto(const std::uint8_t* bytes, std::size_t n, std::size_t maxColumns,
                          RecordHeader* header) {
  const SpanVarint length = spanVarint(bytes, n);
  if (length.length == 0 || length.value <= static_cast<std::uint64_t>(length.length) ||
      length.value > n) {
    return false;
  }
  const std::size_t headerLength = static_cast<std::size_t>(length.value);
  // The bodies follow the header within the n bytes.
  const auto maxBody = static_cast<std::int64_t>(n - headerLength);
  if (!serialTypesInto(bytes + length.length, headerLength - length.length, maxColumns, maxBody,
                       header)) {
    return false;
  }
  header->headerLength = static_cast<std::int64_t>(headerLength);
  return true;
}

std::optional<RecordHeader> readRecordHeader(const std::uint8_t* bytes, std::size_t n,
                                             std::size_t maxColumns) {
  RecordHeader header;
  if (!readRecordHeaderInto(bytes, n, maxColumns, &header)) return std::nullopt;
  return header;
}

SqlValue decodeValue(std::int64_t type, const std::uint8_t* body) {
  SqlValue value;
  decodeValueInto(type, body, value);
  return value;
}

void decodeValueInto(std::int64_t type, const std::uint8_t* body, SqlValue& value,
                     ValueArena* arena, bool borrow) {
  if (type >= 12) {
    const auto kind = type % 2 == 1 ? SqlValue::Kind::Text : SqlValue::Kind::Blob;
    const std::string_view bytes(reinterpret_cast<const char*>(body),
                                 static_cast<std::size_t>(serialBodyLength(type)));
    if (borrow) {
      value.borrowBytes(kind, bytes);
    } else {
      value.setBytes(kind, bytes, arena);
    }
    return;
  }
  value.clearBytes();
  value.integer = 0;
  if (type == 7) {
    value.kind = SqlValue::Kind::Real;
    value.real = serialReal(body);
  } else if (type >= 1 && type <= 9) {
    value.kind = SqlValue::Kind::Integer;
    value.integer = serialInteger(type, body);
  } else {  // NULL, and the reserved types, which hold nothing
    value.kind = SqlValue::Kind::Null;
  }
}

}  // namespace carve
