// The recovery writer copying 500 MB of camera-roll media (four large movies and 2,000
// small photos), against `cp -r` of the same files measured in the same run. Each side runs
// three times, alternating, into a fresh folder; the best time of each is compared (the
// files are in the page cache for both after the first round).
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/notification_center.h"
#include "results/recovery_writer.h"
#include "results/result_view_controller.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kLargeBytes = 100ull * 1000 * 1000;
constexpr int kLarge = 4;
constexpr std::uint64_t kSmallBytes = 50ull * 1000;
constexpr int kSmall = 2000;

bool writeFile(const std::string& path, std::uint64_t bytes, std::mt19937_64& rng) {
  std::ofstream out(path, std::ios::binary);
  std::vector<std::uint64_t> block(8192);
  std::uint64_t left = bytes;
  while (left > 0 && out) {
    for (auto& w : block) w = rng();
    const std::uint64_t n = std::min<std::uint64_t>(left, block.size() * sizeof(block[0]));
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    left -= n;
  }
  return static_cast<bool>(out);
}

double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main() {
  char pattern[] = "/tmp/retrievo-recovery-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string root = pattern;
  const std::string media = root + "/media";
  fs::create_directories(media);

  NotificationCenter center;
  MzResultViewController results(center);
  std::mt19937_64 rng(20261208);
  std::uint64_t total = 0;
  for (int i = 0; i < kLarge + kSmall; ++i) {
    const bool large = i < kLarge;
    const std::string name = large ? "IMG_" + std::to_string(9000 + i) + ".MOV"
                                   : "IMG_" + std::to_string(1000 + i) + ".JPG";
    const std::string path = media + "/" + name;
    const std::uint64_t bytes = large ? kLargeBytes : kSmallBytes;
    if (!writeFile(path, bytes, rng)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    auto record = std::make_shared<MzPhotoAndVideoNode>();
    record->fileNodeName = name;
    record->filePath = path;
    record->fileSizeNumber = bytes;
    record->bmov = large;
    record->bSelected = true;
    results.photoAndVideoArray.push_back(record);
    total += bytes;
  }
  results.selectedFilesNum = static_cast<std::int32_t>(results.photoAndVideoArray.size());

  double bestWriter = 1e9;
  double bestCopy = 1e9;
  int failures = 0;
  for (int round = 0; round < 3; ++round) {
    const std::string out = root + "/out-" + std::to_string(round);
    const auto a = std::chrono::steady_clock::now();
    MzRecoveryWriter writer(results);
    writer.recoverPath = out;
    writer.recoverFilesThread();
    const auto b = std::chrono::steady_clock::now();
    failures += writer.report().incomplete;
    bestWriter = std::min(bestWriter, seconds(b - a));
    std::error_code ec;
    fs::remove_all(out, ec);

    const std::string copy = root + "/cp-" + std::to_string(round);
    const std::string command = "cp -r '" + media + "' '" + copy + "'";
    const auto c = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
      std::fprintf(stderr, "cp -r failed\n");
      return 1;
    }
    const auto d = std::chrono::steady_clock::now();
    bestCopy = std::min(bestCopy, seconds(d - c));
    fs::remove_all(copy, ec);
  }

  const double mb = static_cast<double>(total) / 1e6;
  std::printf("recovery writer: %.0f MB in %.3f s, %.0f MB/s (%d incomplete)\n", mb, bestWriter,
              mb / bestWriter, failures);
  std::printf("cp -r:           %.0f MB in %.3f s, %.0f MB/s\n", mb, bestCopy, mb / bestCopy);
  std::printf("ratio to cp -r: %.2f (target: within 1.2)\n", bestWriter / bestCopy);
  std::error_code ec;
  fs::remove_all(root, ec);
  return failures == 0 ? 0 : 1;
}
