#include "carve/varint.h"

namespace carve {

Varint varint32At(const DatabaseImage& file, std::int64_t offset, std::int64_t end) {
  Varint varint = varintAt(file, offset, end);
  varint.value = clampTo32(varint.value);
  return varint;
}

}  // namespace carve
