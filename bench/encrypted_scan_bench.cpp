// The scan of an encrypted backup against the scan of the same backup unencrypted, measured in
// the same run: a current iPhone's backup (Manifest.db) of 5,000 contacts and 30,000
// camera-roll photos, built twice by the fixture builder, once plain and once encrypted with
// a password. The encrypted backup's key bag uses one round of each derivation, so that its
// scan costs what reading an encrypted backup costs, without the key derivation (a device's
// ten million rounds take seconds of their own, printed apart). Target: within 1.5x.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "backup_builder.h"
#include "backup_encryption.h"
#include "catalogue/backup_keybag.h"
#include "contacts_volume.h"
#include "read_reference.h"

namespace {

using nlohmann::json;

constexpr int kContacts = 5000;
constexpr int kPhotos = 30000;
constexpr int kRuns = 3;
constexpr const char* kPassword = "bench password";

json description() {
  json d = fixtures::contactsDescription(17, kContacts, 0.0, 20261210);
  d["device"]["name"] = "Bench iPhone";
  json roll = json::array();
  for (int i = 0; i < kPhotos; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "IMG_%04d.HEIC", i % 10000);
    roll.push_back({{"path", "Media/DCIM/" + std::to_string(100 + i / 1000) + "APPLE/" + name},
                    {"taken", "2020-01-01T00:00:00Z"},
                    {"original_name", name},
                    {"live", i % 10 == 0},
                    {"bytes", 600 + i % 50},
                    {"movie_bytes", 700}});
  }
  d["camera_roll"] = std::move(roll);
  d["photo_library"] = {{"thumbnails", false}};
  return d;
}

double timeScan(const std::string& command) {
  const auto t0 = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) {
    std::cerr << "the scan failed: " << command << "\n";
    std::exit(1);
  }
  return bench::seconds(std::chrono::steady_clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const std::string root = (fs::temp_directory_path() / "retrievo-encrypted-scan-bench").string();
  std::error_code ec;
  fs::remove_all(root, ec);
  const std::string plain = root + "/plain";
  const std::string locked = root + "/locked";
  std::cerr << "building the two backups...\n";
  std::string error;
  fixtures::BackupEncryption encryption{.password = kPassword, .iterations = 1, .dpic = 1};
  if (!fixtures::buildBackup(description(), plain, fixtures::currentDeviceBackup(), nullptr,
                             &error) ||
      !fixtures::buildBackup(description(), locked, fixtures::currentDeviceBackup(encryption),
                             nullptr, &error)) {
    std::cerr << "cannot build the backups: " << error << "\n";
    return 1;
  }
  const std::string self = fs::absolute(argv[0]).parent_path().string();
  const std::string retrievo = argc > 1 ? argv[1] : self + "/retrievo";
  const std::string scanPlain =
      "'" + retrievo + "' scan '" + plain + "' --quiet > '" + root + "/plain.txt'";
  const std::string scanLocked = "RETRIEVO_BACKUP_PASSWORD='" + std::string(kPassword) + "' '" +
                                 retrievo + "' scan '" + locked + "' --quiet > '" + root +
                                 "/locked.txt' 2>/dev/null";
  double bestPlain = 1e9, bestLocked = 1e9;
  for (int run = 0; run < kRuns; ++run) {
    bestPlain = std::min(bestPlain, timeScan(scanPlain));
    bestLocked = std::min(bestLocked, timeScan(scanLocked));
  }
  // What a device's key bag costs on top: 10,000,000 rounds of PBKDF2-HMAC-SHA256, then
  // 10,000 of PBKDF2-HMAC-SHA1.
  BackupKeyBag bag;
  bag.salt.assign(20, 1);
  bag.iterations = 10000;
  bag.dpsl.assign(20, 2);
  bag.dpic = 10000000;
  const auto t0 = std::chrono::steady_clock::now();
  backupPasswordKey(bag, kPassword);
  const double derivation = bench::seconds(std::chrono::steady_clock::now() - t0);

  const bool same =
      std::system(("cmp -s '" + root + "/plain.txt' '" + root + "/locked.txt'").c_str()) == 0;
  std::printf("current iPhone backup: %d contacts, %d photos, plain and encrypted\n", kContacts,
              kPhotos);
  std::printf("  scan of the plain backup (best of %d):     %.3f s\n", kRuns, bestPlain);
  std::printf("  scan of the encrypted backup (best of %d): %.3f s\n", kRuns, bestLocked);
  std::printf("  same counts: %s\n", same ? "yes" : "NO");
  std::printf("  ratio encrypted / plain: %.2f (target <= 1.5, key derivation excluded)\n",
              bestLocked / bestPlain);
  std::printf("  a device's key derivation on its own: %.2f s\n", derivation);
  if (std::getenv("RETRIEVO_BENCH_KEEP") == nullptr) fs::remove_all(root, ec);
  return same ? 0 : 1;
}
