#include "catalogue/backup_keybag.h"

#include <openssl/evp.h>

#include <cstring>
#include <memory>

namespace {

constexpr std::uint32_t kWrappedWithPasswordKey = 2;

std::uint32_t bigEndian32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

bool fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

// A 4-byte value as a number; longer integer fields are taken by their last four bytes.
std::optional<std::uint32_t> numberOf(std::span<const std::uint8_t> value) {
  if (value.size() < 4) return std::nullopt;
  return bigEndian32(value.data() + value.size() - 4);
}

// The parse so far: the bag, and the class groups met (each with whether it named its class).
struct KeyBagParse {
  BackupKeyBag bag;
  std::vector<std::pair<bool, KeyBagClass>> groups;  // the first UUID is the bag's own
};

// Files one field: the bag's own before the second UUID, else the latest class group's.
bool fileField(KeyBagParse& parse, std::string_view tag, std::span<const std::uint8_t> value,
               std::string* error) {
  BackupKeyBag& bag = parse.bag;
  const auto number = [&](std::uint32_t& into) {
    const auto n = numberOf(value);
    if (!n) return fail(error, "key bag field " + std::string(tag) + " is too short");
    into = *n;
    return true;
  };
  if (tag == "UUID") {
    if (bag.uuid.empty() && parse.groups.empty()) {
      bag.uuid.assign(value.begin(), value.end());
    } else {
      parse.groups.emplace_back(false, KeyBagClass{});
    }
    return true;
  }
  if (!parse.groups.empty()) {
    auto& [named, group] = parse.groups.back();
    if (tag == "CLAS") {
      named = true;
      return number(group.protectionClass);
    }
    if (tag == "WRAP") return number(group.wrap);
    if (tag == "KTYP") return number(group.keyType);
    if (tag == "WPKY") group.wrappedKey.assign(value.begin(), value.end());
    return true;
  }
  if (tag == "VERS") return number(bag.version);
  if (tag == "TYPE") return number(bag.type);
  if (tag == "SALT") bag.salt.assign(value.begin(), value.end());
  if (tag == "ITER") return number(bag.iterations);
  if (tag == "DPSL") bag.dpsl.assign(value.begin(), value.end());
  if (tag == "DPIC") return number(bag.dpic);
  return true;  // HMCK, WRAP and DPWT of the bag itself are not needed
}

}  // namespace

std::optional<BackupKeyBag> parseBackupKeyBag(std::span<const std::uint8_t> bytes,
                                              std::string* error) {
  KeyBagParse parse;
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 8) {
      fail(error, "key bag cut short in a field header");
      return std::nullopt;
    }
    const std::string_view tag(reinterpret_cast<const char*>(bytes.data() + at), 4);
    const std::uint32_t length = bigEndian32(bytes.data() + at + 4);
    at += 8;
    if (length > bytes.size() - at) {
      fail(error, "key bag field " + std::string(tag) + " runs past the end of the bag");
      return std::nullopt;
    }
    if (!fileField(parse, tag, bytes.subspan(at, length), error)) return std::nullopt;
    at += length;
  }
  BackupKeyBag& bag = parse.bag;
  for (auto& [named, group] : parse.groups) {
    if (!named) {
      fail(error, "key bag has a class group without its class number");
      return std::nullopt;
    }
    bag.classes[group.protectionClass] = std::move(group);
  }
  if (bag.salt.empty() || bag.iterations == 0) {
    fail(error, "key bag has no salt or iteration count");
    return std::nullopt;
  }
  if (!bag.dpsl.empty() && bag.dpic == 0) {
    fail(error, "key bag has a second salt without its iteration count");
    return std::nullopt;
  }
  return bag;
}

std::optional<AesKey> pbkdf2Key(PasswordHash hash, std::span<const std::uint8_t> secret,
                                std::span<const std::uint8_t> salt, std::uint32_t iterations) {
  if (iterations == 0 || iterations > 0x7fffffffU) return std::nullopt;
  AesKey key{};
  if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(secret.data()),
                        static_cast<int>(secret.size()), salt.data(), static_cast<int>(salt.size()),
                        static_cast<int>(iterations),
                        hash == PasswordHash::Sha1 ? EVP_sha1() : EVP_sha256(),
                        static_cast<int>(key.size()), key.data()) != 1) {
    return std::nullopt;
  }
  return key;
}

std::optional<AesKey> backupPasswordKey(const BackupKeyBag& bag, std::string_view password) {
  const std::span<const std::uint8_t> text(reinterpret_cast<const std::uint8_t*>(password.data()),
                                           password.size());
  if (bag.dpsl.empty()) return pbkdf2Key(PasswordHash::Sha1, text, bag.salt, bag.iterations);
  std::optional<AesKey> first = pbkdf2Key(PasswordHash::Sha256, text, bag.dpsl, bag.dpic);
  if (!first) return std::nullopt;
  std::optional<AesKey> key = pbkdf2Key(PasswordHash::Sha1, *first, bag.salt, bag.iterations);
  OPENSSL_cleanse(first->data(), first->size());
  return key;
}

std::optional<std::vector<std::uint8_t>> unwrapAesKey(const AesKey& key,
                                                      std::span<const std::uint8_t> wrapped) {
  if (wrapped.size() < 24 || wrapped.size() % 8 != 0) return std::nullopt;
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
  if (!ctx) return std::nullopt;
  std::vector<std::uint8_t> out(wrapped.size() + 16);
  int written = 0;
  int last = 0;
  EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
  if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_wrap(), nullptr, key.data(), nullptr) != 1 ||
      EVP_DecryptUpdate(ctx.get(), out.data(), &written, wrapped.data(),
                        static_cast<int>(wrapped.size())) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), out.data() + written, &last) != 1) {
    return std::nullopt;
  }
  out.resize(static_cast<std::size_t>(written + last));
  return out;
}

std::map<std::uint32_t, AesKey> unlockClassKeys(const BackupKeyBag& bag,
                                                const AesKey& passwordKey) {
  std::map<std::uint32_t, AesKey> keys;
  for (const auto& [cls, group] : bag.classes) {
    if ((group.wrap & kWrappedWithPasswordKey) == 0) continue;
    auto key = unwrapAesKey(passwordKey, group.wrappedKey);
    if (!key || key->size() != 32) continue;
    AesKey classKey{};
    std::memcpy(classKey.data(), key->data(), classKey.size());
    OPENSSL_cleanse(key->data(), key->size());
    keys.emplace(cls, classKey);
  }
  return keys;
}
