#include "carve/varint.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using carve::varint32At;
using carve::varintAt;

struct Encoded {
  std::vector<std::uint8_t> bytes;
  std::uint64_t value;
};

// One varint of every length, with the bits that tell a wrong shift or mask apart.
const Encoded kVarints[] = {
    {{0x7F}, 127},
    {{0x81, 0x00}, 128},
    {{0xFF, 0x7F}, 0x3FFF},
    {{0x81, 0x80, 0x00}, 1u << 14},
    {{0x8F, 0xFF, 0xFF, 0x7F}, 0x1FFFFFF},
    {{0x90, 0x80, 0x80, 0x80, 0x00}, 1ULL << 32},
    {{0xBF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, (1ULL << 41) - 1},
    {{0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, (1ULL << 42) | 1},
    {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, (1ULL << 56) - 1},
    // The ninth byte gives all eight of its bits, the high one included.
    {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0xFF}, 0xFF},
    {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, UINT64_MAX},
    {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x81, 0x80}, 0x180},
};

TEST(Varint, EveryLengthDecodesWholeAndFailsCutShort) {
  for (const Encoded& encoded : kVarints) {
    const auto length = static_cast<int>(encoded.bytes.size());
    // Two bytes before and after the varint, so that an offset or an end that is off by one
    // reads a byte of its own.
    std::vector<std::uint8_t> bytes = {0x85, 0x85};
    bytes.insert(bytes.end(), encoded.bytes.begin(), encoded.bytes.end());
    bytes.insert(bytes.end(), {0x85, 0x85});
    const DatabaseImage file(bytes);
    const carve::Varint whole = varintAt(file, 2, 2 + length);
    ASSERT_TRUE(whole) << "length " << length;
    EXPECT_EQ(whole.length, length);
    EXPECT_EQ(whole.value, encoded.value) << "length " << length;
    EXPECT_EQ(varintAt(file, 2, file.size()).value, encoded.value);
    for (int cut = 0; cut < length; ++cut) {
      EXPECT_FALSE(varintAt(file, 2, 2 + cut)) << "length " << length << " cut to " << cut;
      // The end of the image cuts it as an end does.
      const DatabaseImage shortImage(
          std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 2 + cut));
      EXPECT_FALSE(varintAt(shortImage, 2, 100)) << "length " << length << " cut to " << cut;
    }
  }
  const DatabaseImage file(std::vector<std::uint8_t>{0x05});
  EXPECT_FALSE(varintAt(file, -1, 1));  // before the image
  EXPECT_EQ(varintAt(file, 0, 1).value, 5u);
}

TEST(Varint, ThirtyTwoBitReadsClampLargeValues) {
  const struct {
    std::vector<std::uint8_t> bytes;
    std::uint64_t clamped;
  } cases[] = {
      {{0x7F}, 127},
      {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F}, 0xFFFFFFFF},  // exactly 32 bits
      {{0x90, 0x80, 0x80, 0x80, 0x00}, 0xFFFFFFFF},  // 2^32
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    const DatabaseImage file(c.bytes);
    const auto end = static_cast<std::int64_t>(c.bytes.size());
    const carve::Varint read = varint32At(file, 0, end);
    ASSERT_TRUE(read);
    EXPECT_EQ(read.value, c.clamped);
    EXPECT_EQ(read.length, varintAt(file, 0, end).length);
    EXPECT_FALSE(varint32At(file, 0, end - 1));
  }
}

}  // namespace
