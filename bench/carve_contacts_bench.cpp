// Benchmark: the deleted-contact carver on a generated address book of about 20 MB, 30% of
// its contacts deleted, against a sequential read of the same file measured in the same run.
//
// The carver's time covers what the step does once the private copy exists: reading the
// file into memory and carving every page. Each is timed as the best of several runs on a
// warm page cache; the result is MB/s of both and their ratio (the target is within 3x).
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "carve/deleted_contacts_scanner.h"
#include "carve/page_walk.h"
#include "contacts_volume.h"
#include "device_builders.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

double readSequentially(const std::string& path, std::size_t* total) {
  const auto start = Clock::now();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return 0;
  std::vector<char> chunk(1 << 16);
  std::size_t sum = 0, got;
  unsigned checksum = 0;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
    sum += got;
    checksum += static_cast<unsigned char>(chunk[got - 1]);
  }
  std::fclose(file);
  *total = sum + (checksum & 0);
  return seconds(start);
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
  std::printf("Address book: %.1f MB\n", mb);

  double bestRead = 1e9, bestCarve = 1e9;
  std::size_t carved = 0, values = 0, total = 0;
  for (int run = 0; run < (getenv("BENCH_RUNS") ? atoi(getenv("BENCH_RUNS")) : 5); ++run) {
    bestRead = std::min(bestRead, readSequentially(path, &total));
    const auto start = Clock::now();
    NotificationCenter center;
    ScanLists lists;
    DatabasePreparer databases("");
    ScanContext scan{"", center, lists, databases};
    auto image = DatabaseImage::load(path);
    if (!image) return 1;
    carveDeletedContacts(CarveDatabase::fromImage(std::move(*image)), scan);
    bestCarve = std::min(bestCarve, seconds(start));
    carved = lists.delContactArray.size();
    values = lists.delContactValueArray.size();
  }
  std::printf("sequential read: %8.1f MB/s (%zu bytes)\n", mb / bestRead, total);
  std::printf("carve contacts:  %8.1f MB/s (%zu contacts, %zu values carved)\n", mb / bestCarve,
              carved, values);
  std::printf("carve / read time ratio: %.2fx (target within 3x)\n", bestCarve / bestRead);
  std::fflush(stdout);
  return 0;
}
