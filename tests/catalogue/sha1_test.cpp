// SHAH against the FIPS 180-1 test vectors, fed whole and in pieces.
#include "catalogue/sha1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kTwoBlockMessage[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

std::string digestOf(SHAH& sha) {
  auto words = sha.finish();
  return words ? SHAH::toText(*words) : std::string("failed");
}

TEST(Sha1, FipsVectors) {
  EXPECT_EQ(SHAH::hexDigest("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(SHAH::hexDigest(kTwoBlockMessage), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(SHAH::hexDigest(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(SHAH::hexDigest(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(Sha1, PaddingAroundTheBlockBoundary) {
  // 55 bytes leave room for the length in the last block, 56 do not; 64 fill a block.
  const std::vector<std::pair<std::size_t, const char*>> vectors = {
      {55, "c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {56, "c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {57, "f08f24908d682555111be7ff6f004e78283d989a"},
      {63, "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {64, "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {65, "11655326c708d70319be2610e8a57d9a5b959d3b"},
      {119, "ee971065aaa017e0632a8ca6c77bb3bf8b1dfc56"},
      {120, "f34c1488385346a55709ba056ddd08280dd4c6d6"},
      {128, "ad5b3fdbcb526778c2839d2f151ea753995e26a0"},
  };
  for (const auto& [length, expected] : vectors) {
    EXPECT_EQ(SHAH::hexDigest(std::string(length, 'a')), expected) << length << " bytes";
  }
}

TEST(Sha1, PiecesAcrossBlockBoundariesGiveTheSameDigest) {
  // One million "a" in pieces whose sizes straddle the 64-byte block in every way.
  const std::string a(1000000, 'a');
  const std::vector<std::size_t> sizes = {1, 63, 64, 65, 55, 56, 57, 127, 128, 3, 1000};
  SHAH sha;
  std::size_t at = 0;
  for (std::size_t i = 0; at < a.size(); ++i) {
    std::size_t n = std::min(sizes[i % sizes.size()], a.size() - at);
    sha.add(a.data() + at, n);
    at += n;
  }
  EXPECT_EQ(digestOf(sha), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");

  // Byte by byte, then the same object reset and reused for another message.
  sha.reset();
  for (const char* p = kTwoBlockMessage; *p; ++p) sha.add(p, 1);
  EXPECT_EQ(digestOf(sha), "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  sha.reset();
  sha.add("ab");
  sha.add(std::string_view());
  sha.add("c");
  EXPECT_EQ(digestOf(sha), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(Sha1, DigestTextIsEightLowercaseDigitsPerWord) {
  EXPECT_EQ(SHAH::toText({0x1u, 0xABCDEF01u, 0u, 0xFFFFFFFFu, 0x00100000u}),
            "00000001abcdef0100000000ffffffff00100000");
}

}  // namespace
