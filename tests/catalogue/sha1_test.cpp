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
