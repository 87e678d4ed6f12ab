// The key bag of an encrypted backup (Manifest.plist "BackupKeyBag") and the keys it yields.
//
// The bag is a run of fields, each a 4-byte tag, a 4-byte big-endian length and that many
// bytes of value. The bag's own fields (VERS, TYPE, UUID, HMCK, WRAP, SALT, ITER and, from
// iOS 10.2, DPWT, DPIC, DPSL) come first; every further UUID starts the group of one
// protection class (CLAS, WRAP, KTYP, WPKY). The parser reads only within the bytes it is
// given and checks every length against what is left before it reads a value.
//
// The password key is PBKDF2-HMAC-SHA1 over SALT with ITER rounds, of the password itself on
// backups before iOS 10.2, or of PBKDF2-HMAC-SHA256(password, DPSL, DPIC rounds) on later ones;
// which one is chosen by whether the bag has DPSL. A class key whose WRAP has bit 2 set is its
// WPKY unwrapped (AES key wrap, RFC 3394) with the password key; the wrap's integrity check
// fails for a wrong password, so a bag that unwraps no class key means a wrong password. The
// cryptography is OpenSSL's libcrypto.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using AesKey = std::array<std::uint8_t, 32>;

struct KeyBagClass {
  std::uint32_t protectionClass = 0;
  std::uint32_t wrap = 0;                // bit 2: wrapped with the password key
  std::uint32_t keyType = 0;             // KTYP
  std::vector<std::uint8_t> wrappedKey;  // WPKY
};

struct BackupKeyBag {
  std::uint32_t version = 0;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> uuid;
  std::vector<std::uint8_t> salt;
  std::uint32_t iterations = 0;
  std::vector<std::uint8_t> dpsl;  // empty before iOS 10.2
  std::uint32_t dpic = 0;
  std::map<std::uint32_t, KeyBagClass> classes;  // by protection class
};

// The bag in `bytes`, or none with the reason in `error` (cut short, a length past the end, no
// salt or iteration count, a class group without its class number).
std::optional<BackupKeyBag> parseBackupKeyBag(std::span<const std::uint8_t> bytes,
                                              std::string* error = nullptr);

enum class PasswordHash { Sha1, Sha256 };

// PBKDF2 with HMAC over `hash`: 32 bytes from `secret`, `salt` and `iterations` rounds; none
// when the derivation fails.
std::optional<AesKey> pbkdf2Key(PasswordHash hash, std::span<const std::uint8_t> secret,
                                std::span<const std::uint8_t> salt, std::uint32_t iterations);

// The key derived from `password` as the bag says (see above); none when the derivation fails.
std::optional<AesKey> backupPasswordKey(const BackupKeyBag& bag, std::string_view password);

// `wrapped` unwrapped with `key` (RFC 3394); none when its integrity check fails or its length
// is not that of a wrapped key.
std::optional<std::vector<std::uint8_t>> unwrapAesKey(const AesKey& key,
                                                      std::span<const std::uint8_t> wrapped);

// The keys of the classes wrapped with the password key, by protection class. Empty when none
// unwraps: the password is wrong.
std::map<std::uint32_t, AesKey> unlockClassKeys(const BackupKeyBag& bag, const AesKey& passwordKey);
