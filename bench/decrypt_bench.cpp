// Decrypting one 1 GB stored file of an encrypted backup (AES-256-CBC, IV zero, PKCS#7) into a
// new file, against `openssl enc -d -aes-256-cbc` on the same file with the same key, measured
// in the same run. Each side runs three times, alternating, into a fresh target in the same
// folder; the best time of each is compared (the stored file is in the page cache for both
// after the first round). Target: within 1.2x of openssl.
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "catalogue/backup_cipher.h"
#include "read_reference.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kBytes = 1000ull * 1000 * 1000;
constexpr std::size_t kPiece = 8u << 20;
constexpr int kRuns = 3;

std::string hexOf(const AesKey& key) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::uint8_t b : key) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// Writes kBytes of pseudo-random plaintext, enciphered as the backup stores it, to `path`.
bool writeStoredFile(const std::string& path, const AesKey& key) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  const std::uint8_t iv[16] = {};
  if (!ctx || EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv) != 1)
    return false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  std::mt19937_64 random(20261209);
  std::vector<std::uint64_t> plain(kPiece / 8);
  std::vector<std::uint8_t> out(kPiece + 16);
  bool ok = true;
  for (std::uint64_t done = 0; done < kBytes && ok;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, kBytes - done));
    for (auto& word : plain) word = random();
    int written = 0;
    ok = EVP_EncryptUpdate(ctx, out.data(), &written,
                           reinterpret_cast<const std::uint8_t*>(plain.data()),
                           static_cast<int>(n)) == 1 &&
         ::write(fd, out.data(), static_cast<std::size_t>(written)) == written;
    done += n;
  }
  int last = 0;
  ok = ok && EVP_EncryptFinal_ex(ctx, out.data(), &last) == 1 &&
       ::write(fd, out.data(), static_cast<std::size_t>(last)) == last;
  EVP_CIPHER_CTX_free(ctx);
  return ::close(fd) == 0 && ok;
}

double timeOpenssl(const std::string& stored, const std::string& target, const AesKey& key) {
  fs::remove(target);
  const std::string command = "openssl enc -d -aes-256-cbc -K " + hexOf(key) + " -iv " +
                              std::string(32, '0') + " -in '" + stored + "' -out '" + target + "'";
  const auto t0 = std::chrono::steady_clock::now();
  const int rc = std::system(command.c_str());
  const double s = bench::seconds(std::chrono::steady_clock::now() - t0);
  if (rc != 0) {
    std::fprintf(stderr, "openssl failed (%d)\n", rc);
    std::exit(1);
  }
  return s;
}

double timeRetrievo(const std::string& stored, const std::string& target, const AesKey& key,
                    std::uint64_t* written) {
  fs::remove(target);
  const auto t0 = std::chrono::steady_clock::now();
  const int in = ::open(stored.c_str(), O_RDONLY);
  const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  const DecryptResult r = decryptToDescriptor(in, key, out);
  ::close(in);
  ::close(out);
  const double s = bench::seconds(std::chrono::steady_clock::now() - t0);
  if (r.end != DecryptEnd::Done) {
    std::fprintf(stderr, "decryption failed: %s\n", describeDecryptEnd(r).c_str());
    std::exit(1);
  }
  *written = r.written;
  return s;
}

bool sameFiles(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::file_size(a, ec) != fs::file_size(b, ec)) return false;
  const int fa = ::open(a.c_str(), O_RDONLY);
  const int fb = ::open(b.c_str(), O_RDONLY);
  std::vector<char> ba(kPiece), bb(kPiece);
  bool same = fa >= 0 && fb >= 0;
  for (ssize_t na, nb; same && (na = ::read(fa, ba.data(), kPiece)) > 0;) {
    nb = ::read(fb, bb.data(), static_cast<std::size_t>(na));
    same = nb == na && std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) == 0;
  }
  ::close(fa);
  ::close(fb);
  return same;
}

}  // namespace

int main() {
  const char* tmp = std::getenv("TMPDIR");
  const fs::path folder = fs::path(tmp && tmp[0] ? tmp : "/tmp") / "retrievo-decrypt-bench";
  fs::remove_all(folder);
  fs::create_directories(folder);
  AesKey key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i * 37 + 11);
  const std::string stored = (folder / "stored").string();
  std::printf("writing a 1 GB stored file...\n");
  if (!writeStoredFile(stored, key)) {
    std::fprintf(stderr, "cannot write %s\n", stored.c_str());
    return 1;
  }
  const std::string ours = (folder / "plain-retrievo").string();
  const std::string theirs = (folder / "plain-openssl").string();
  double bestOurs = 1e30, bestTheirs = 1e30;
  std::uint64_t written = 0;
  for (int run = 0; run < kRuns; ++run) {
    bestTheirs = std::min(bestTheirs, timeOpenssl(stored, theirs, key));
    bestOurs = std::min(bestOurs, timeRetrievo(stored, ours, key, &written));
  }
  const bool same = sameFiles(ours, theirs);
  const double mb = static_cast<double>(written) / 1e6;
  std::printf("decrypting %.0f MB (best of %d):\n", mb, kRuns);
  std::printf("  retrievo:            %8.3f s = %6.0f MB/s\n", bestOurs, mb / bestOurs);
  std::printf("  openssl enc -d:      %8.3f s = %6.0f MB/s\n", bestTheirs, mb / bestTheirs);
  std::printf("  plaintexts equal:    %s\n", same ? "yes" : "NO");
  std::printf("  retrievo / openssl:  %8.2f (target <= 1.2)\n", bestOurs / bestTheirs);
  fs::remove_all(folder);
  return same ? 0 : 1;
}
