#include "carve/varint.h"

namespace carve {

Varint varintAt(const DatabaseImage& file, std::int64_t offset, std::int64_t end) {
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

Varint varint32At(const DatabaseImage& file, std::int64_t offset, std::int64_t end) {
  Varint varint = varintAt(file, offset, end);
  varint.value = clampTo32(varint.value);
  return varint;
}

}  // namespace carve
