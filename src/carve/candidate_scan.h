// A fast first pass over a page for the carvers that test a signature at every byte offset.
//
// A carver's signature test is exact but costs a few branches per offset, and almost every
// offset of a page fails it. The prefilter here tests a handful of byte positions of 16
// offsets at once (SSE2 compares) and hands on only the offsets whose bytes can still begin
// a signature; the carver then runs its exact test on those. The tests must be implied by
// the carver's own: an offset the prefilter drops must be one the exact test would reject,
// so the results are the same as testing every offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace carve {

// The byte `lane` positions after a candidate offset must be one of `values[0..count)`.
struct ByteTest {
  std::uint8_t lane = 0;
  std::uint8_t count = 0;
  std::array<std::uint8_t, 4> values{};
};

// Appends to `out` (cleared first), in ascending order, every offset k in [0, n) at which
// all `tests` hold for `bytes`. `readable` is how many bytes from `bytes` may be read; a
// test that would read at or past it fails. Offsets are page-relative, so they fit 32 bits.
template <std::size_t T>
void findCandidates(const std::uint8_t* bytes, std::size_t n, std::size_t readable,
                    const std::array<ByteTest, T>& tests, std::vector<std::uint32_t>& out) {
  out.clear();
  std::size_t widest = 0;
  for (const ByteTest& test : tests) widest = test.lane > widest ? test.lane : widest;
  auto holds = [&](std::size_t k) {
    for (const ByteTest& test : tests) {
      const std::size_t at = k + test.lane;
      if (at >= readable) return false;
      bool any = false;
      for (std::size_t v = 0; v < test.count; ++v) any = any || bytes[at] == test.values[v];
      if (!any) return false;
    }
    return true;
  };
  std::size_t k = 0;
#if defined(__SSE2__)
  // Blocks of 16 offsets whose every test reads inside `readable`.
  for (; k + 16 <= n && k + 16 + widest <= readable; k += 16) {
    __m128i all = _mm_set1_epi8(static_cast<char>(0xFF));
    for (const ByteTest& test : tests) {
      const __m128i lane = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k + test.lane));
      __m128i any = _mm_setzero_si128();
      for (std::size_t v = 0; v < test.count; ++v) {
        any = _mm_or_si128(any,
                           _mm_cmpeq_epi8(lane, _mm_set1_epi8(static_cast<char>(test.values[v]))));
      }
      all = _mm_and_si128(all, any);
    }
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(all)); mask != 0;
         mask &= mask - 1) {
      out.push_back(static_cast<std::uint32_t>(k + static_cast<std::size_t>(__builtin_ctz(mask))));
    }
  }
#endif
  for (; k < n; ++k) {
    if (holds(k)) out.push_back(static_cast<std::uint32_t>(k));
  }
}

// The prefilter of the note and body signatures, which a ByteTest list cannot hold in one
// pass: the offsets k in [0, n), ascending, at which byte k is 0x01, byte k + 1 a small
// integer column (0x01, or 0x08 and 0x09 with `bodiless`) and byte k + 2 a small, two-byte or
// three-byte integer column (0x01, 0x02, 0x03, and with `bodiless` 0x08 and 0x09). Every
// offset a note or body signature accepts is among them. As with findCandidates, `readable`
// is how many bytes from `bytes` may be read and an offset whose bytes reach it fails.
// Replaces the contents of `out`.
void findNoteCandidates(const std::uint8_t* bytes, std::size_t n, std::size_t readable,
                        bool bodiless, std::vector<std::uint32_t>& out);

}  // namespace carve
