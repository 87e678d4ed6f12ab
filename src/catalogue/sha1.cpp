#include "catalogue/sha1.h"

#include <cstdio>
#include <cstring>

namespace {
inline std::uint32_t rotl(std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
}  // namespace

void SHAH::reset() {
  h_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  blockUsed_ = 0;
  lengthBits_ = 0;
  overflow_ = false;
}

void SHAH::add(const void* data, std::size_t length) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (length == 0) return;
  // The message length in bits must fit 64 bits.
  std::uint64_t addBits = static_cast<std::uint64_t>(length) << 3;
  if ((static_cast<std::uint64_t>(length) >> 61) != 0 || lengthBits_ + addBits < lengthBits_) {
    overflow_ = true;
  }
  lengthBits_ += addBits;
  if (blockUsed_ > 0) {
    std::size_t take = std::min(length, block_.size() - blockUsed_);
    std::memcpy(block_.data() + blockUsed_, p, take);
    blockUsed_ += take;
    p += take;
    length -= take;
    if (blockUsed_ < block_.size()) return;
    processBlock(block_.data());
    blockUsed_ = 0;
  }
  while (length >= 64) {
    processBlock(p);
    p += 64;
    length -= 64;
  }
  if (length > 0) {
    std::memcpy(block_.data(), p, length);
    blockUsed_ = length;
  }
}

std::optional<std::array<std::uint32_t, 5>> SHAH::finish() {
  if (overflow_) return std::nullopt;
  const std::uint64_t bits = lengthBits_;
  std::uint8_t pad[72] = {0x80};
  std::size_t padLength = (blockUsed_ < 56) ? (56 - blockUsed_) : (120 - blockUsed_);
  std::uint8_t lengthBytes[8];
  for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  add(pad, padLength);
  add(lengthBytes, 8);
  return h_;
}

void SHAH::processBlock(const std::uint8_t* block) {
  std::uint32_t w[80];
  for (int i = 0; i < 16; ++i) {
    w[i] = (std::uint32_t{block[4 * i]} << 24) | (std::uint32_t{block[4 * i + 1]} << 16) |
           (std::uint32_t{block[4 * i + 2]} << 8) | std::uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  for (int i = 0; i < 80; ++i) {
    std::uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999u;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1u;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCu;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6u;
    }
    std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = rotl(b, 30);
    b = a;
    a = t;
  }
  h_[0] += a;
  h_[1] += b;
  h_[2] += c;
  h_[3] += d;
  h_[4] += e;
}

std::string SHAH::toText(const std::array<std::uint32_t, 5>& words) {
  char text[41];
  for (int i = 0; i < 5; ++i) std::snprintf(text + 8 * i, 9, "%08x", words[i]);
  return std::string(text, 40);
}

std::string SHAH::hexDigest(std::string_view message) {
  SHAH sha;
  sha.add(message);
  auto words = sha.finish();
  return words ? toText(*words) : std::string();
}
