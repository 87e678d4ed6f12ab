#include "carve/candidate_scan.h"

namespace carve {

void findNoteCandidates(const std::uint8_t* bytes, std::size_t n, std::size_t readable,
                        bool bodiless, std::vector<std::uint32_t>& out) {
  out.clear();
  auto holds = [&](std::size_t k) {
    if (k + 2 >= readable) return false;
    const std::uint8_t second = bytes[k + 1];
    const std::uint8_t third = bytes[k + 2];
    const bool bodilessSecond = bodiless && (second == 0x08 || second == 0x09);
    const bool bodilessThird = bodiless && (third == 0x08 || third == 0x09);
    return bytes[k] == 0x01 && (second == 0x01 || bodilessSecond) &&
           (third == 0x01 || third == 0x02 || third == 0x03 || bodilessThird);
  };
  std::size_t k = 0;
#if defined(__SSE2__)
  const __m128i one = _mm_set1_epi8(0x01);
  const __m128i three = _mm_set1_epi8(0x03);
  const __m128i eight = _mm_set1_epi8(0x08);
  const __m128i nine = _mm_set1_epi8(0x09);
  // Blocks of 16 offsets whose three bytes each lie inside `readable`.
  for (; k + 16 <= n && k + 18 <= readable; k += 16) {
    // Most blocks hold no 0x01 at all (text, or the zeros of unused space): one compare.
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(first, one)));
    if (mask == 0) continue;
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k + 1));
    const __m128i third = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k + 2));
    __m128i secondFits = _mm_cmpeq_epi8(second, one);
    // 0x01, 0x02 and 0x03 are the bytes from 1 to 3: one unsigned range test.
    __m128i thirdFits = _mm_cmpeq_epi8(_mm_min_epu8(_mm_max_epu8(third, one), three), third);
    if (bodiless) {
      secondFits = _mm_or_si128(
          secondFits, _mm_or_si128(_mm_cmpeq_epi8(second, eight), _mm_cmpeq_epi8(second, nine)));
      thirdFits = _mm_or_si128(
          thirdFits, _mm_or_si128(_mm_cmpeq_epi8(third, eight), _mm_cmpeq_epi8(third, nine)));
    }
    mask &= static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(secondFits, thirdFits)));
    for (; mask != 0; mask &= mask - 1) {
      out.push_back(static_cast<std::uint32_t>(k + static_cast<std::size_t>(__builtin_ctz(mask))));
    }
  }
#endif
  for (; k < n; ++k) {
    if (holds(k)) out.push_back(static_cast<std::uint32_t>(k));
  }
}

}  // namespace carve
