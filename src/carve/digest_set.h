// A set of 64-bit digests, built once and then asked many times from several threads: open
// addressing in a table of at least twice as many slots as digests, so that a lookup is
// mostly one read. Digests are well mixed already and pick their slot by their low bits.
#pragma once

#include <cstdint>
#include <vector>

#include "carve/present_memory.h"

namespace carve {

class DigestSet {
 public:
  DigestSet() = default;
  explicit DigestSet(const std::vector<std::uint64_t>& digests) {
    std::size_t slots = 16;
    while (slots < 2 * digests.size()) slots *= 2;
    slots_.reserve(slots);
    if (slots * sizeof(std::uint64_t) >= kPresentAtOnce) {
      makePresent(slots_.data(), slots * sizeof(std::uint64_t));
    }
    slots_.assign(slots, kEmpty);
    mask_ = slots - 1;
    for (const std::uint64_t digest : digests) insert(digest);
  }

  bool contains(std::uint64_t digest) const {
    if (digest == kEmpty) return holdsEmpty_;
    if (slots_.empty()) return false;
    for (std::size_t at = digest & mask_;; at = (at + 1) & mask_) {
      if (slots_[at] == digest) return true;
      if (slots_[at] == kEmpty) return false;
    }
  }

 private:
  static constexpr std::uint64_t kEmpty = 0;  // marks a free slot; the digest 0 is kept apart

  void insert(std::uint64_t digest) {
    if (digest == kEmpty) {
      holdsEmpty_ = true;
      return;
    }
    for (std::size_t at = digest & mask_;; at = (at + 1) & mask_) {
      if (slots_[at] == digest) return;
      if (slots_[at] == kEmpty) {
        slots_[at] = digest;
        return;
      }
    }
  }

  std::vector<std::uint64_t> slots_;
  std::size_t mask_ = 0;
  bool holdsEmpty_ = false;
};

}  // namespace carve
