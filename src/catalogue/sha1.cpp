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

// The 80 rounds, written out in four groups of twenty so that no round tests which group it
// is in; the message schedule is kept in a ring of 16 words. A manifest read computes one
// digest per entry, and this loop is most of that work.
namespace {

inline std::uint32_t loadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// Word i of the schedule (16 <= i < 80), computed in place in the ring.
inline std::uint32_t schedule(std::uint32_t* w, int i) {
  std::uint32_t v = rotl(w[(i - 3) & 15] ^ w[(i - 8) & 15] ^ w[(i - 14) & 15] ^ w[i & 15], 1);
  w[i & 15] = v;
  return v;
}

struct Choose {
  static std::uint32_t f(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return d ^ (b & (c ^ d));
  }
  static constexpr std::uint32_t k = 0x5A827999u;
};
struct Parity1 {
  static std::uint32_t f(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return b ^ c ^ d; }
  static constexpr std::uint32_t k = 0x6ED9EBA1u;
};
struct Majority {
  static std::uint32_t f(std::uint32_t b, std::uint32_t c, std::uint32_t d) {
    return (b & c) | (d & (b | c));
  }
  static constexpr std::uint32_t k = 0x8F1BBCDCu;
};
struct Parity2 {
  static std::uint32_t f(std::uint32_t b, std::uint32_t c, std::uint32_t d) { return b ^ c ^ d; }
  static constexpr std::uint32_t k = 0xCA62C1D6u;
};

template <typename Round>
inline void twentyRounds(std::uint32_t* w, int first, std::uint32_t& a, std::uint32_t& b,
                         std::uint32_t& c, std::uint32_t& d, std::uint32_t& e) {
  for (int i = first; i < first + 20; i += 5) {
    // Five rounds rotate the five variables back into place.
    auto word = [&](int n) { return n < 16 ? w[n] : schedule(w, n); };
    e += rotl(a, 5) + Round::f(b, c, d) + Round::k + word(i);
    b = rotl(b, 30);
    d += rotl(e, 5) + Round::f(a, b, c) + Round::k + word(i + 1);
    a = rotl(a, 30);
    c += rotl(d, 5) + Round::f(e, a, b) + Round::k + word(i + 2);
    e = rotl(e, 30);
    b += rotl(c, 5) + Round::f(d, e, a) + Round::k + word(i + 3);
    d = rotl(d, 30);
    a += rotl(b, 5) + Round::f(c, d, e) + Round::k + word(i + 4);
    c = rotl(c, 30);
  }
}

}  // namespace

void SHAH::processBlock(const std::uint8_t* block) {
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = loadBigEndian(block + 4 * i);
  std::uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
  twentyRounds<Choose>(w, 0, a, b, c, d, e);
  twentyRounds<Parity1>(w, 20, a, b, c, d, e);
  twentyRounds<Majority>(w, 40, a, b, c, d, e);
  twentyRounds<Parity2>(w, 60, a, b, c, d, e);
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
