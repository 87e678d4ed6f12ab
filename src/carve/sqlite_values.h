// One decoded column of a carved record: NULL, integer, real, text or blob.
//
// Text is kept as the stored bytes (the databases are UTF-8); whether they are valid UTF-8
// is the carver's test, not this type's. Values compare equal when kind and content are
// equal; how the record stored them does not take part (an integer 1 stored as type 1 or
// type 9 is the same value).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "carve/value_arena.h"

namespace carve {

class SqlValue {
 public:
  enum class Kind : std::uint8_t { Null, Integer, Real, Text, Blob };

  // A row of a large table holds tens of these and a carve keeps millions of them: the
  // number is kept once, as the integer or the real its kind says, and a text or blob as
  // its bytes and their length (24 bytes in all).
  Kind kind = Kind::Null;

 private:
  bool ownsBytes_ = false;  // the bytes are on the heap, else in an arena (or none)
  std::uint32_t size_ = 0;

 public:
  union {
    std::int64_t integer = 0;  // Integer
    double real;               // Real
  };

  SqlValue() = default;
  ~SqlValue() { release(); }
  // A copy keeps bytes of its own on the heap, wherever the original kept them.
  SqlValue(const SqlValue& other) : kind(other.kind), integer(other.integer) {
    setBytes(other.bytes(), nullptr);
  }
  SqlValue(SqlValue&& other) noexcept : kind(other.kind), integer(other.integer) {
    takeBytes(other);
  }
  SqlValue& operator=(const SqlValue& other) {
    if (this != &other) {
      SqlValue copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  SqlValue& operator=(SqlValue&& other) noexcept {
    if (this != &other) {
      release();
      kind = other.kind;
      integer = other.integer;
      takeBytes(other);
    }
    return *this;
  }

  static SqlValue null() { return SqlValue(); }
  static SqlValue ofInteger(std::int64_t value) {
    SqlValue v;
    v.kind = Kind::Integer;
    v.integer = value;
    return v;
  }
  static SqlValue ofReal(double value) {
    SqlValue v;
    v.kind = Kind::Real;
    v.real = value;
    return v;
  }
  static SqlValue ofText(std::string_view text) { return withBytes(Kind::Text, text); }
  static SqlValue ofBlob(std::string_view blob) { return withBytes(Kind::Blob, blob); }

  // Makes this value a text or blob (`kind`) of `bytes`, copied into `arena` when one is
  // given, else onto the heap. Bytes in an arena last as long as the arena: a value that
  // takes them there belongs in a row that keeps the arena (SqlValues made with it).
  void setBytes(Kind kind, std::string_view bytes, ValueArena* arena) {
    this->kind = kind;
    integer = 0;
    setBytes(bytes, arena);
  }
  // Makes this value a text or blob (`kind`) of `bytes` where they lie, not copied: they must
  // last as long as the value's row (bytes of an image its arena keeps alive).
  void borrowBytes(Kind kind, std::string_view bytes);
  // Makes this value NULL, an integer or a real; any bytes it held are let go.
  void clearBytes() {
    release();
    size_ = 0;
    data_ = nullptr;
  }

  // A text's or blob's bytes; empty for the other kinds.
  std::string_view bytes() const { return {data_, size_}; }
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
        return bytes() == other.bytes();
    }
  }

 private:
  static SqlValue withBytes(Kind kind, std::string_view bytes) {
    SqlValue v;
    v.setBytes(kind, bytes, nullptr);
    return v;
  }
  void setBytes(std::string_view bytes, ValueArena* arena);
  // Takes `other`'s bytes, wherever they are, and leaves it none.
  void takeBytes(SqlValue& other) noexcept {
    ownsBytes_ = other.ownsBytes_;
    size_ = other.size_;
    data_ = other.data_;
    other.ownsBytes_ = false;
    other.size_ = 0;
    other.data_ = nullptr;
  }
  void release() {
    if (ownsBytes_) delete[] data_;
    ownsBytes_ = false;
  }

  const char* data_ = nullptr;
};

// The values of one row, in column order; a carver's rows take them from an arena.
using SqlValues = std::vector<SqlValue, ArenaAllocator<SqlValue>>;
static_assert(sizeof(SqlValue) <= 24);

}  // namespace carve
