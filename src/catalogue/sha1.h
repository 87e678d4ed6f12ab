// SHA-1 (FIPS 180-1), the digest under which a backup stores each device file.
//
// Usage: reset(), add() any number of times, finish(). One object is reused for many
// messages by calling reset() again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class SHAH {
 public:
  SHAH() { reset(); }

  void reset();
  void add(const void* data, std::size_t length);
  void add(std::string_view text) { add(text.data(), text.size()); }
  // The five 32-bit words of the digest, or none when the message was longer than SHA-1
  // can count (2^64 - 1 bits). The object must be reset before it is used again.
  std::optional<std::array<std::uint32_t, 5>> finish();

  // The digest words as 40 lowercase hexadecimal digits ("%08x" each, joined).
  static std::string toText(const std::array<std::uint32_t, 5>& words);
  // The digest text of one message, "" on failure.
  static std::string hexDigest(std::string_view message);

 private:
  void processBlock(const std::uint8_t* block);

  std::array<std::uint32_t, 5> h_{};
  std::array<std::uint8_t, 64> block_{};
  std::size_t blockUsed_ = 0;
  std::uint64_t lengthBits_ = 0;
  bool overflow_ = false;
};
