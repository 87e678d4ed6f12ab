// Lookups the carver makes many times: the set of digests of live rows, and the check that a
// text is valid UTF-8.
#include "carve/digest_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "carve/record_fit.h"

namespace {

// Digests that share their low bits crowd one slot and must still all be found; 0, which
// marks a free slot, is kept apart; repeats are kept once.
TEST(DigestSetTest, FindsWhatItHoldsAndNothingElse) {
  std::vector<std::uint64_t> digests;
  for (std::uint64_t i = 1; i <= 40; ++i) digests.push_back(i << 32);  // low bits all 0
  digests.push_back(0);
  digests.push_back(5ULL << 32);
  const carve::DigestSet set(digests);
  for (const std::uint64_t digest : digests) EXPECT_TRUE(set.contains(digest)) << digest;
  EXPECT_FALSE(set.contains(41ULL << 32));
  EXPECT_FALSE(set.contains(1));
  EXPECT_FALSE(carve::DigestSet(std::vector<std::uint64_t>{7}).contains(0));
  EXPECT_FALSE(carve::DigestSet().contains(7));
}

// Texts are checked eight ASCII bytes at a time: what breaks the rule right after such a run
// (a zero byte, a stray continuation byte, a sequence cut off at the end) is still caught,
// and characters of several bytes between runs still pass.
TEST(DigestSetTest, Utf8CheckCatchesFaultsAfterAsciiRuns) {
  const std::string run = "0123456789abcdef";
  EXPECT_TRUE(carve::validUtf8(run + "\xC3\xA9" + run + "\xE2\x82\xAC" + run));
  EXPECT_FALSE(carve::validUtf8(run + std::string(1, '\0') + run));
  EXPECT_FALSE(carve::validUtf8(run.substr(0, 9) + std::string(1, '\0')));
  EXPECT_FALSE(carve::validUtf8(run + "\x80" + run));
  EXPECT_FALSE(carve::validUtf8(run + "\xE2\x82"));
  EXPECT_FALSE(carve::validUtf8(run + "\xED\xA0\x80"));  // a surrogate
}

}  // namespace
