// The key bag of encrypted backups: known answers for each cryptographic step (RFC 6070 and
// RFC 7914 for PBKDF2, RFC 3394 for the key unwrap), and bags of both derivations unlocked
// with the right password, refused with a wrong one, and rejected when malformed.
#include "catalogue/backup_keybag.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const std::string& text) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  }
  return out;
}

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes prefix(const AesKey& key, std::size_t n) { return Bytes(key.begin(), key.begin() + n); }

// `key` wrapped with `kek` (RFC 3394), as the device stores a class key.
Bytes wrapKey(const AesKey& kek, const Bytes& key) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CIPHER_CTX_set_flags(ctx, EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  Bytes out(key.size() + 16);
  int n = 0, last = 0;
  EVP_EncryptInit_ex(ctx, EVP_aes_256_wrap(), nullptr, kek.data(), nullptr);
  EVP_EncryptUpdate(ctx, out.data(), &n, key.data(), static_cast<int>(key.size()));
  EVP_EncryptFinal_ex(ctx, out.data() + n, &last);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<std::size_t>(n + last));
  return out;
}

void field(Bytes& bag, const char* tag, const Bytes& value) {
  bag.insert(bag.end(), tag, tag + 4);
  const auto n = static_cast<std::uint32_t>(value.size());
  for (int shift = 24; shift >= 0; shift -= 8) bag.push_back(static_cast<std::uint8_t>(n >> shift));
  bag.insert(bag.end(), value.begin(), value.end());
}

Bytes number(std::uint32_t n) {
  return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
          static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

AesKey classKey(std::uint8_t seed) {
  AesKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(seed + i * 7);
  return key;
}

// A bag as a backup's Manifest.plist holds it: classes 1 to 4 wrapped with the key of
// `password` (class 4 also with the device's own key, WRAP 3), class 5 with the device's key
// only; with `current`, the iOS 10.2 second salt.
Bytes makeBag(const std::string& password, bool current) {
  BackupKeyBag params;
  params.salt = bytesOf("salt of the bag 0123");
  params.iterations = 5;
  if (current) {
    params.dpsl = bytesOf("second salt 4567890");
    params.dpic = 7;
  }
  const AesKey kek = *backupPasswordKey(params, password);
  Bytes bag;
  field(bag, "VERS", number(current ? 4 : 3));
  field(bag, "TYPE", number(1));
  field(bag, "UUID", Bytes(16, 0xab));
  field(bag, "HMCK", Bytes(40, 0x11));
  field(bag, "WRAP", number(2));
  field(bag, "SALT", params.salt);
  field(bag, "ITER", number(params.iterations));
  if (current) {
    field(bag, "DPWT", number(1));
    field(bag, "DPIC", number(params.dpic));
    field(bag, "DPSL", params.dpsl);
  }
  for (std::uint32_t cls = 1; cls <= 5; ++cls) {
    const AesKey key = classKey(static_cast<std::uint8_t>(cls));
    field(bag, "UUID", Bytes(16, static_cast<std::uint8_t>(cls)));
    field(bag, "CLAS", number(cls));
    field(bag, "WRAP", number(cls == 5 ? 1 : cls == 4 ? 3 : 2));
    field(bag, "KTYP", number(0));
    field(bag, "WPKY", cls == 5 ? Bytes(40, 0x55) : wrapKey(kek, Bytes(key.begin(), key.end())));
  }
  return bag;
}

TEST(BackupKeyBag, KnownAnswersOfEachStep) {
  // RFC 6070 (PBKDF2-HMAC-SHA1); a longer key begins with the shorter one.
  EXPECT_EQ(prefix(*pbkdf2Key(PasswordHash::Sha1, bytesOf("password"), bytesOf("salt"), 1), 20),
            hex("0c60c80f961f0e71f3a9b524af6012062fe037a6"));
  EXPECT_EQ(prefix(*pbkdf2Key(PasswordHash::Sha1, bytesOf("password"), bytesOf("salt"), 4096), 20),
            hex("4b007901b765489abead49d926f721d065a429c1"));
  EXPECT_EQ(prefix(*pbkdf2Key(PasswordHash::Sha1, bytesOf("passwordPASSWORDpassword"),
                              bytesOf("saltSALTsaltSALTsaltSALTsaltSALTsalt"), 4096),
                   25),
            hex("3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"));
  // RFC 7914 section 11 (PBKDF2-HMAC-SHA256).
  EXPECT_EQ(prefix(*pbkdf2Key(PasswordHash::Sha256, bytesOf("passwd"), bytesOf("salt"), 1), 32),
            hex("55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"));
  EXPECT_EQ(
      prefix(*pbkdf2Key(PasswordHash::Sha256, bytesOf("Password"), bytesOf("NaCl"), 80000), 32),
      hex("4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"));
  // RFC 3394 4.6: 256 bits of key data with a 256-bit key.
  AesKey kek{};
  for (std::size_t i = 0; i < kek.size(); ++i) kek[i] = static_cast<std::uint8_t>(i);
  const Bytes wrapped =
      hex("28C9F404C4B810F4CBCCB35CFB87F8263F5786E2D80ED326CBC7F0E71A99F43BFB988B9B7A02DD21");
  EXPECT_EQ(*unwrapAesKey(kek, wrapped),
            hex("00112233445566778899AABBCCDDEEFF000102030405060708090A0B0C0D0E0F"));
  Bytes damaged = wrapped;
  damaged[3] ^= 1;
  EXPECT_FALSE(unwrapAesKey(kek, damaged).has_value());
  EXPECT_FALSE(unwrapAesKey(kek, Bytes(wrapped.begin(), wrapped.begin() + 20)).has_value());
}

TEST(BackupKeyBag, TheRightPasswordUnlocksTheClassesOfBothDerivations) {
  for (const bool current : {false, true}) {
    SCOPED_TRACE(current ? "iOS 10.2 and later" : "before iOS 10.2");
    const Bytes bytes = makeBag("correct horse", current);
    std::string error;
    const auto bag = parseBackupKeyBag(bytes, &error);
    ASSERT_TRUE(bag.has_value()) << error;
    EXPECT_EQ(bag->version, current ? 4u : 3u);
    EXPECT_EQ(bag->uuid, Bytes(16, 0xab));
    EXPECT_EQ(bag->classes.size(), 5u);
    EXPECT_EQ(bag->dpsl.empty(), !current);

    const auto keys = unlockClassKeys(*bag, *backupPasswordKey(*bag, "correct horse"));
    ASSERT_EQ(keys.size(), 4u);  // class 5 is wrapped with the device's key only
    for (std::uint32_t cls = 1; cls <= 4; ++cls) {
      EXPECT_EQ(keys.at(cls), classKey(static_cast<std::uint8_t>(cls))) << cls;
    }
    EXPECT_TRUE(unlockClassKeys(*bag, *backupPasswordKey(*bag, "correct horse ")).empty());
    EXPECT_TRUE(unlockClassKeys(*bag, *backupPasswordKey(*bag, "")).empty());
  }
}

TEST(BackupKeyBag, MalformedBagsAreRejectedWithTheirReason) {
  const Bytes good = makeBag("pw", true);
  std::string error;
  EXPECT_FALSE(parseBackupKeyBag(Bytes(good.begin(), good.begin() + 6), &error));
  EXPECT_EQ(error, "key bag cut short in a field header");
  EXPECT_FALSE(parseBackupKeyBag(Bytes(good.begin(), good.end() - 3), &error));
  EXPECT_EQ(error, "key bag field WPKY runs past the end of the bag");
  Bytes huge = good;
  huge[4] = 0xff;  // VERS claims 4 GB
  EXPECT_FALSE(parseBackupKeyBag(huge, &error));
  EXPECT_EQ(error, "key bag field VERS runs past the end of the bag");
  Bytes noClass;
  field(noClass, "SALT", bytesOf("s"));
  field(noClass, "ITER", number(1));
  field(noClass, "UUID", Bytes(16, 1));
  field(noClass, "UUID", Bytes(16, 2));
  field(noClass, "WPKY", Bytes(40, 2));
  EXPECT_FALSE(parseBackupKeyBag(noClass, &error));
  EXPECT_EQ(error, "key bag has a class group without its class number");
  Bytes noSalt;
  field(noSalt, "VERS", number(3));
  EXPECT_FALSE(parseBackupKeyBag(noSalt, &error));
  EXPECT_EQ(error, "key bag has no salt or iteration count");
  Bytes shortNumber;
  field(shortNumber, "ITER", Bytes{1, 2});
  EXPECT_FALSE(parseBackupKeyBag(shortNumber, &error));
  EXPECT_EQ(error, "key bag field ITER is too short");
}

}  // namespace
