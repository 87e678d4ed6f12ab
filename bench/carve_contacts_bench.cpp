// Benchmark: the deleted-contact carver on a generated address book of about 20 MB, 30% of
// its contacts deleted, against a sequential read of the same file measured in the same run.
//
// The carver is timed in memory (the step loads the private copy first; that load is timed
// apart). References in the same run: a warm read (page cache) and a cold read (the file's
// cached pages dropped first), best of several runs each. The target, within 3x of the
// read, is judged against the cold read, what a scan of a backup on disk pays.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/carve_steps.h"
#include "carve/deleted_contacts_scanner.h"
#include "carve/page_walk.h"
#include "contacts_volume.h"
#include "device_builders.h"
#include "read_reference.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

}  // namespace

int measure(const std::string& path);

// Usage: carve_contacts_bench [CONTACTS [KEEP_PATH]]; with KEEP_PATH the generated file is
// kept there and reused by later runs.
int main(int argc, char** argv) {
  const std::size_t contacts = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 26000;
  const std::string keep = argc > 2 ? argv[2] : "";
  if (!keep.empty() && std::ifstream(keep).good()) return measure(keep);
  std::printf("Generating %zu contacts (30%% deleted) for iOS 6...\n", contacts);
  std::vector<fixtures::DeviceFile> files;
  nlohmann::json truth;
  std::string error;
  const auto built = Clock::now();
  if (!fixtures::buildDeviceFiles(fixtures::contactsDescription(6, contacts, 0.3, 2026), 6, &files,
                                  &truth, &error)) {
    std::fprintf(stderr, "build failed: %s\n", error.c_str());
    return 1;
  }
  const fixtures::DeviceFile* book = nullptr;
  for (const auto& f : files) {
    if (f.path == "Library/AddressBook/AddressBook.sqlitedb") book = &f;
  }
  if (!book) return 1;
  std::printf("built in %.1f s\n", seconds(built));
  if (!keep.empty()) {
    std::ofstream(keep, std::ios::binary)
        .write(reinterpret_cast<const char*>(book->content.data()),
               static_cast<std::streamsize>(book->content.size()));
    return measure(keep);
  }
  char folder[] = "/tmp/retrievo-carve-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  const std::string path = std::string(folder) + "/AddressBook.sqlitedb";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(book->content.data()),
             static_cast<std::streamsize>(book->content.size()));
  const int rc = measure(path);
  std::remove(path.c_str());
  rmdir(folder);
  return rc;
}

int measure(const std::string& path) {
  std::error_code ec;
  const double mb = static_cast<double>(std::filesystem::file_size(path, ec)) / 1e6;
  const int runs = std::getenv("BENCH_RUNS") ? std::atoi(std::getenv("BENCH_RUNS")) : 5;

  double bestLoad = 1e9, bestCarve = 1e9;
  std::size_t carved = 0, values = 0;
  for (int run = 0; run < runs; ++run) {
    NotificationCenter center;
    ScanLists lists;
    DatabasePreparer databases("");
    ScanContext scan{"", center, lists, databases};
    const auto loading = Clock::now();
    auto image = DatabaseImage::load(path);
    if (!image) return 1;
    const CarveDatabase db = CarveDatabase::fromImage(std::move(*image));
    bestLoad = std::min(bestLoad, seconds(loading));
    const auto start = Clock::now();
    carveDeletedContacts(db, scan);
    bestCarve = std::min(bestCarve, seconds(start));
    carved = lists.delContactArray.size();
    values = lists.delContactValueArray.size();
  }
  std::size_t bytes = 0;
  const double warm = bench::bestOf(runs, bench::sequentialRead, path, &bytes);
  const double cold = bench::bestOf(runs, bench::coldSequentialRead, path, &bytes);
  std::printf("address book (iOS 6): %.1f MB, %zu contacts and %zu values carved\n", mb, carved,
              values);
  bench::printCarverFigures(mb, bestCarve, bestLoad, warm, cold);
  return 0;
}
