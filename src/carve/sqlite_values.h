// One decoded column of a carved record: NULL, integer, real, text or blob, with the serial
// type of the record header it was decoded from.
//
// Text is kept as the stored bytes (the databases are UTF-8); whether they are valid UTF-8
// is the carver's test, not this type's. Values compare equal when kind and content are
// equal; the serial type does not take part (an integer 1 stored as type 1 or type 9 is the
// same value).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "carve/value_arena.h"

namespace carve {

struct SqlValue {
  enum class Kind : std::uint8_t { Null, Integer, Real, Text, Blob };

  // A row of a large table holds tens of these and a carve keeps hundreds of thousands of
  // rows: the number is kept once, as the integer or the real its kind says.
  Kind kind = Kind::Null;
  std::int32_t serialType = 0;  // the record's serial types are below 2^31
  union {
    std::int64_t integer = 0;  // Integer
    double real;               // Real
  };
  std::string bytes;  // Text and Blob

  static SqlValue null(std::int64_t serialType = 0) { return made(Kind::Null, serialType); }
  static SqlValue ofInteger(std::int64_t value, std::int64_t serialType) {
    SqlValue v = made(Kind::Integer, serialType);
    v.integer = value;
    return v;
  }
  static SqlValue ofReal(double value) {
    SqlValue v = made(Kind::Real, 7);
    v.real = value;
    return v;
  }
  static SqlValue ofText(std::string text, std::int64_t serialType) {
    SqlValue v = made(Kind::Text, serialType);
    v.bytes = std::move(text);
    return v;
  }
  static SqlValue ofBlob(std::string blob, std::int64_t serialType) {
    SqlValue v = made(Kind::Blob, serialType);
    v.bytes = std::move(blob);
    return v;
  }

  bool isNull() const { return kind == Kind::Null; }
  bool operator==(const SqlValue& other) const {
    if (kind != other.kind) return false;
    switch (kind) {
      case Kind::Null:
        return true;
      case Kind::Integer:
        return integer == other.integer;
      case Kind::Real:
        return real == other.real;
      default:
        return bytes == other.bytes;
    }
  }

 private:
  static SqlValue made(Kind kind, std::int64_t serialType) {
    SqlValue v;
    v.kind = kind;
    v.serialType = static_cast<std::int32_t>(serialType);
    return v;
  }
};

// The values of one row, in column order; a carver's rows take them from an arena.
using SqlValues = std::vector<SqlValue, ArenaAllocator<SqlValue>>;

}  // namespace carve
