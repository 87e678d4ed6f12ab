// A 64-bit digest of bytes and numbers, eight bytes at a time: what tells whether two rows of
// one database hold the same payload or values. Digests are compared within one carve only,
// never stored, so the function may change between versions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace carve {

class Digest {
 public:
  void add(std::uint64_t word) {
    hash_ = (hash_ ^ word) * 0x9E3779B97F4A7C15ULL;
    hash_ ^= hash_ >> 29;
  }
  void addBytes(const void* bytes, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    for (; n >= 8; n -= 8, p += 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      add(word);
    }
    std::uint64_t tail = n;  // the tail's length tells "ab" from "ab\0"
    for (std::size_t i = 0; i < n; ++i) tail |= std::uint64_t{p[i]} << (8 * (i + 1));
    add(tail);
  }
  std::uint64_t value() const { return hash_; }

 private:
  std::uint64_t hash_ = 0xCBF29CE484222325ULL;
};

}  // namespace carve
