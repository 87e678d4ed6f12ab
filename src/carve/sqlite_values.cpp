#include "carve/sqlite_values.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace carve {

void SqlValue::setBytes(std::string_view bytes, ValueArena* arena) {
  char* copy = nullptr;
  if (!bytes.empty()) {
    // No record holds a value this long; std::string refuses lengths it cannot hold alike.
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
      throw std::length_error("value too long");
    }
    copy =
        arena != nullptr ? static_cast<char*>(arena->take(bytes.size())) : new char[bytes.size()];
    std::memcpy(copy, bytes.data(), bytes.size());
  }
  release();  // only now: `bytes` may be this value's own
  ownsBytes_ = copy != nullptr && arena == nullptr;
  size_ = static_cast<std::uint32_t>(bytes.size());
  data_ = copy;
}

void SqlValue::borrowBytes(Kind kind, std::string_view bytes) {
  if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("value too long");
  }
  release();
  this->kind = kind;
  integer = 0;
  ownsBytes_ = false;
  size_ = static_cast<std::uint32_t>(bytes.size());
  data_ = bytes.empty() ? nullptr : bytes.data();
}

}  // namespace carve
