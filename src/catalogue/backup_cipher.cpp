#include "catalogue/backup_cipher.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Large pieces keep the system calls few; the cipher itself runs at memory speed.
constexpr std::size_t kPieceSize = 1 << 20;
constexpr std::size_t kBlock = 16;

EVP_CIPHER_CTX* context(void* p) { return static_cast<EVP_CIPHER_CTX*>(p); }

int writeAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

}  // namespace

std::optional<ProtectedKey> parseProtectedKey(std::span<const std::uint8_t> bytes) {
  if (bytes.size() <= 4) return std::nullopt;
  ProtectedKey key;
  key.protectionClass =
      static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
      (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
  key.wrappedKey.assign(bytes.begin() + 4, bytes.end());
  return key;
}

std::optional<AesKey> unwrapProtectedKey(const std::map<std::uint32_t, AesKey>& classKeys,
                                         std::span<const std::uint8_t> bytes, std::string* error) {
  auto fail = [error](std::string why) {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  const auto parsed = parseProtectedKey(bytes);
  if (!parsed) return fail("the key record is " + std::to_string(bytes.size()) + " bytes long");
  if (parsed->wrappedKey.size() != 40) {
    return fail("the wrapped key is " + std::to_string(parsed->wrappedKey.size()) +
                " bytes long, not 40");
  }
  const auto classKey = classKeys.find(parsed->protectionClass);
  if (classKey == classKeys.end()) {
    return fail("no key for protection class " + std::to_string(parsed->protectionClass));
  }
  auto unwrapped = unwrapAesKey(classKey->second, parsed->wrappedKey);
  if (!unwrapped || unwrapped->size() != 32) return fail("the key does not unwrap");
  AesKey key{};
  std::memcpy(key.data(), unwrapped->data(), key.size());
  OPENSSL_cleanse(unwrapped->data(), unwrapped->size());
  return key;
}

CbcStreamDecryptor::CbcStreamDecryptor(const AesKey& key) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const std::uint8_t iv[kBlock] = {};
  if (ctx && EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv) == 1) {
    ctx_ = ctx;
  } else {
    EVP_CIPHER_CTX_free(ctx);
  }
}

CbcStreamDecryptor::~CbcStreamDecryptor() { EVP_CIPHER_CTX_free(context(ctx_)); }

std::ptrdiff_t CbcStreamDecryptor::update(std::span<const std::uint8_t> in, std::uint8_t* out) {
  if (!ctx_) return -1;
  std::ptrdiff_t total = 0;
  // EVP takes an int length; pieces above that are fed in turn.
  while (!in.empty()) {
    const std::size_t take = std::min<std::size_t>(in.size(), 1u << 30);
    int n = 0;
    if (EVP_DecryptUpdate(context(ctx_), out + total, &n, in.data(), static_cast<int>(take)) != 1) {
      return -1;
    }
    total += n;
    in = in.subspan(take);
  }
  return total;
}

std::ptrdiff_t CbcStreamDecryptor::finish(std::uint8_t* out) {
  if (!ctx_) return -1;
  int n = 0;
  if (EVP_DecryptFinal_ex(context(ctx_), out, &n) != 1) return -1;
  return n;
}

DecryptResult decryptStream(int inFd, const AesKey& key, const PlaintextSink& sink,
                            const std::function<bool()>& stop) {
  DecryptResult result;
  CbcStreamDecryptor cipher(key);
  if (!cipher.valid()) {
    result.end = DecryptEnd::BadPadding;
    return result;
  }
  std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[kPieceSize]);
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[kPieceSize + kBlock]);
  auto give = [&](std::ptrdiff_t n) {
    if (n <= 0) return true;
    if (const int e = sink(out.get(), static_cast<std::size_t>(n)); e != 0) {
      result.end = DecryptEnd::WriteFailed;
      result.error = e;
      return false;
    }
    result.written += static_cast<std::uint64_t>(n);
    return true;
  };
  for (;;) {
    if (stop && stop()) {
      result.end = DecryptEnd::Stopped;
      return result;
    }
    const ssize_t got = ::read(inFd, in.get(), kPieceSize);
    if (got < 0) {
      if (errno == EINTR) continue;
      result.end = DecryptEnd::ReadFailed;
      result.error = errno;
      return result;
    }
    if (got == 0) break;
    const std::ptrdiff_t n = cipher.update({in.get(), static_cast<std::size_t>(got)}, out.get());
    if (n < 0) {
      result.end = DecryptEnd::BadPadding;
      return result;
    }
    if (!give(n)) return result;
  }
  const std::ptrdiff_t last = cipher.finish(out.get());
  if (last < 0) {
    result.end = DecryptEnd::BadPadding;
    return result;
  }
  give(last);
  return result;
}

PlaintextSink descriptorSink(int fd) {
  return [fd](const std::uint8_t* data, std::size_t size) { return writeAll(fd, data, size); };
}

DecryptResult decryptToDescriptor(int inFd, const AesKey& key, int outFd,
                                  const std::function<bool()>& stop) {
  return decryptStream(inFd, key, descriptorSink(outFd), stop);
}

std::optional<std::uint64_t> plaintextSize(int fd, std::uint64_t storedSize, const AesKey& key) {
  if (storedSize == 0 || storedSize % kBlock != 0) return std::nullopt;
  // CBC: the last block decrypts on its own with the block before it (zeros for the first) as
  // its IV.
  std::uint8_t tail[2 * kBlock] = {};
  const std::uint64_t start = storedSize >= 2 * kBlock ? storedSize - 2 * kBlock : 0;
  const std::size_t want = static_cast<std::size_t>(storedSize - start);
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(fd, tail + got, want - got, static_cast<off_t>(start + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  const std::uint8_t zero[kBlock] = {};
  const std::uint8_t* iv = want == 2 * kBlock ? tail : zero;
  const std::uint8_t* last = tail + want - kBlock;
  std::uint8_t plain[2 * kBlock] = {};
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int n = 0;
  const bool ok = ctx && EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_DecryptUpdate(ctx, plain, &n, last, static_cast<int>(kBlock)) == 1 &&
                  n == static_cast<int>(kBlock);
  EVP_CIPHER_CTX_free(ctx);
  if (!ok) return std::nullopt;
  const std::uint8_t pad = plain[kBlock - 1];
  if (pad == 0 || pad > kBlock) return std::nullopt;
  for (std::size_t i = kBlock - pad; i < kBlock; ++i) {
    if (plain[i] != pad) return std::nullopt;
  }
  return storedSize - pad;
}

std::string describeDecryptEnd(const DecryptResult& result) {
  switch (result.end) {
    case DecryptEnd::Done:
      return "";
    case DecryptEnd::ReadFailed:
      return std::string("reading it failed (") + std::strerror(result.error) + ")";
    case DecryptEnd::WriteFailed:
      return std::string("writing its plaintext failed (") + std::strerror(result.error) + ")";
    case DecryptEnd::BadPadding:
      return "it does not decrypt: its padding is wrong";
    case DecryptEnd::Stopped:
      return "stopped";
  }
  return "";
}
