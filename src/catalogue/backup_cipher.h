// The ciphers of an encrypted backup's files: the wrapped key a file or the manifest carries,
// and AES-256-CBC with a zero IV and PKCS#7 padding over the stored bytes.
//
// The decryptor works on a stream: it takes the stored bytes in pieces of any size and gives
// back plaintext as it goes, holding back only the last block until the end, where the
// padding is checked and removed. A file of any size is decrypted without holding it in
// memory, and it ends where its padding says, whatever size a manifest recorded for it.
// The cryptography is OpenSSL's libcrypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "catalogue/backup_keybag.h"

// A key as a file record or Manifest.plist "ManifestKey" holds it: a 4-byte little-endian
// protection class, then the key wrapped (RFC 3394) with that class's key.
struct ProtectedKey {
  std::uint32_t protectionClass = 0;
  std::vector<std::uint8_t> wrappedKey;
};

// Splits `bytes` into class and wrapped key; none when too short to hold both.
std::optional<ProtectedKey> parseProtectedKey(std::span<const std::uint8_t> bytes);

// The key of `bytes` unwrapped with the key of its class, or none with the reason in `error`
// ("no key for protection class N", "the key does not unwrap", a malformed length).
std::optional<AesKey> unwrapProtectedKey(const std::map<std::uint32_t, AesKey>& classKeys,
                                         std::span<const std::uint8_t> bytes,
                                         std::string* error = nullptr);

// AES-256-CBC decryption, IV zero, PKCS#7 padding, over a stream of stored bytes.
class CbcStreamDecryptor {
 public:
  explicit CbcStreamDecryptor(const AesKey& key);
  ~CbcStreamDecryptor();
  CbcStreamDecryptor(const CbcStreamDecryptor&) = delete;
  CbcStreamDecryptor& operator=(const CbcStreamDecryptor&) = delete;

  bool valid() const { return ctx_ != nullptr; }
  // Decrypts `in`, appending the plaintext it can already give to `out`, which must have room
  // for in.size() + 16 bytes; returns how many bytes it wrote, or -1 on failure.
  std::ptrdiff_t update(std::span<const std::uint8_t> in, std::uint8_t* out);
  // Ends the stream: checks and strips the padding of the held-back block and writes what is
  // left of it (at most 16 bytes) to `out`. Returns the count, or -1 when the stored bytes
  // were not a whole number of blocks or their padding is wrong.
  std::ptrdiff_t finish(std::uint8_t* out);

 private:
  void* ctx_ = nullptr;  // EVP_CIPHER_CTX
};

enum class DecryptEnd {
  Done,         // every byte was decrypted and the padding was right
  ReadFailed,   // reading the stored file failed (errno in `error`)
  WriteFailed,  // the sink refused bytes (its errno in `error`)
  BadPadding,   // not a whole number of blocks, or the padding is wrong
  Stopped,      // the stop check asked to end
};

struct DecryptResult {
  DecryptEnd end = DecryptEnd::Done;
  int error = 0;
  std::uint64_t written = 0;  // plaintext bytes given to the sink
};

// Receives plaintext; returns 0, or an errno that ends the decryption.
using PlaintextSink = std::function<int(const std::uint8_t* data, std::size_t size)>;

// A sink that writes everything it is given to `fd`.
PlaintextSink descriptorSink(int fd);

// Reads the stored file on `inFd` from its current position to its end in large pieces and
// gives the plaintext to `sink`. `stop`, when given, is asked between pieces.
DecryptResult decryptStream(int inFd, const AesKey& key, const PlaintextSink& sink,
                            const std::function<bool()>& stop = {});

// Writes the plaintext of `inFd` to `outFd` (see decryptStream).
DecryptResult decryptToDescriptor(int inFd, const AesKey& key, int outFd,
                                  const std::function<bool()>& stop = {});

// The plaintext size of the stored file on `fd` (`storedSize` bytes long): the stored size less
// the padding, read by decrypting the last block alone. None when the size is not a whole
// number of blocks, the padding is wrong or reading fails.
std::optional<std::uint64_t> plaintextSize(int fd, std::uint64_t storedSize, const AesKey& key);

// A few English words for a failed decryption, e.g. "its padding is wrong".
std::string describeDecryptEnd(const DecryptResult& result);
