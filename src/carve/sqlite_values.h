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
  enum class Kind { Null, Integer, Real, Text, Blob };

  Kind kind = Kind::Null;
  std::int64_t serialType = 0;
  std::int64_t integer = 0;  // Integer
  double real = 0;           // Real
  std::string bytes;         // Text and Blob

  static SqlValue null(std::int64_t serialType = 0) { return {Kind::Null, serialType, 0, 0, {}}; }
  static SqlValue ofInteger(std::int64_t value, std::int64_t serialType) {
    return {Kind::Integer, serialType, value, 0, {}};
  }
  static SqlValue ofReal(double value) { return {Kind::Real, 7, 0, value, {}}; }
  static SqlValue ofText(std::string text, std::int64_t serialType) {
    return {Kind::Text, serialType, 0, 0, std::move(text)};
  }
  static SqlValue ofBlob(std::string blob, std::int64_t serialType) {
    return {Kind::Blob, serialType, 0, 0, std::move(blob)};
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
};

// The values of one row, in column order; a carver's rows take them from an arena.
using SqlValues = std::vector<SqlValue, ArenaAllocator<SqlValue>>;

}  // namespace carve
