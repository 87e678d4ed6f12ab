// The stored-file cipher of encrypted backups: plaintext of every length back through the
// stream decryptor and the last-block size, wrong padding refused, and the wrapped keys of
// files and of the manifest unwrapped only with their own class key.
#include "catalogue/backup_cipher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "backup_encryption.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

AesKey keyOf(std::uint8_t seed) {
  AesKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(seed + 7 * i);
  return key;
}

struct Decrypted {
  DecryptResult result;
  Bytes plain;
  std::optional<std::uint64_t> size;
};

Decrypted decryptFile(const TempDir& tmp, const Bytes& stored, const AesKey& key) {
  const std::string path = tmp.sub("stored");
  const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  EXPECT_EQ(::write(out, stored.data(), stored.size()), static_cast<ssize_t>(stored.size()));
  ::close(out);
  Decrypted d;
  const int in = ::open(path.c_str(), O_RDONLY);
  d.result = decryptStream(in, key, [&d](const std::uint8_t* data, std::size_t size) {
    d.plain.insert(d.plain.end(), data, data + size);
    return 0;
  });
  d.size = plaintextSize(in, stored.size(), key);
  ::close(in);
  return d;
}

TEST(BackupCipher, EveryLengthComesBackWholeAndEndsByItsPadding) {
  TempDir tmp;
  const AesKey key = keyOf(3);
  // Around the block size and across the decryptor's 1 MiB pieces.
  for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 32u, (1u << 20) - 1, (1u << 20) + 5}) {
    Bytes plain(length);
    for (std::size_t i = 0; i < length; ++i) plain[i] = static_cast<std::uint8_t>(i * 131 + 7);
    const Decrypted d = decryptFile(tmp, fixtures::encryptAesCbc(key, plain), key);
    EXPECT_EQ(d.result.end, DecryptEnd::Done) << length;
    EXPECT_EQ(d.result.written, length);
    EXPECT_TRUE(d.plain == plain) << length;
    EXPECT_EQ(d.size, std::optional<std::uint64_t>(length));
  }
}

TEST(BackupCipher, WrongPaddingAndWrongKeysAreRefused) {
  TempDir tmp;
  const AesKey key = keyOf(3);
  const Bytes stored = fixtures::encryptAesCbc(key, Bytes(100, 'x'));
  // Cut inside a block, then decrypted with another key.
  Bytes cut(stored.begin(), stored.end() - 5);
  EXPECT_EQ(decryptFile(tmp, cut, key).result.end, DecryptEnd::BadPadding);
  EXPECT_FALSE(decryptFile(tmp, cut, key).size);
  const Decrypted other = decryptFile(tmp, stored, keyOf(4));
  EXPECT_EQ(other.result.end, DecryptEnd::BadPadding);
  EXPECT_FALSE(other.size);
  EXPECT_EQ(describeDecryptEnd(other.result), "it does not decrypt: its padding is wrong");
}

TEST(BackupCipher, AFileKeyUnwrapsOnlyWithTheKeyOfItsClass) {
  const AesKey fileKey = keyOf(9);
  const std::map<std::uint32_t, AesKey> classes = {{3, keyOf(30)}, {4, keyOf(40)}};
  auto record = [&](std::uint32_t cls, const AesKey& kek) {
    Bytes out = {static_cast<std::uint8_t>(cls), 0, 0, 0};
    const Bytes wrapped = fixtures::wrapAesKey(kek, fileKey);
    out.insert(out.end(), wrapped.begin(), wrapped.end());
    return out;
  };
  std::string error;
  EXPECT_EQ(unwrapProtectedKey(classes, record(3, keyOf(30)), &error), fileKey) << error;
  EXPECT_FALSE(unwrapProtectedKey(classes, record(4, keyOf(30)), &error));
  EXPECT_EQ(error, "the key does not unwrap");
  EXPECT_FALSE(unwrapProtectedKey(classes, record(5, keyOf(30)), &error));
  EXPECT_EQ(error, "no key for protection class 5");
  Bytes shortRecord = record(3, keyOf(30));
  shortRecord.resize(30);
  EXPECT_FALSE(unwrapProtectedKey(classes, shortRecord, &error));
  EXPECT_EQ(error, "the wrapped key is 26 bytes long, not 40");
  EXPECT_FALSE(unwrapProtectedKey(classes, Bytes{3, 0}, &error));
}

}  // namespace
