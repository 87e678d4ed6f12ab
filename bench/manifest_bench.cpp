// The manifest reader on a 100,000-entry Manifest.mbdb written by the backup writer, with an
// observer that only counts the notifications. Reference, measured in the same run: reading
// the same file sequentially in 64 KiB blocks and hashing every entry's key text
// (domain + "-" + path) with OpenSSL's SHA1. The key texts are listed before timing starts.
//
// The reader runs on two folders: one that holds only the manifest, and one that stores
// every file in two-digit folders as current backups do (the reader then has to find each
// stored file). BM_StoredFilePathPerEntry times the lookup of every stored file with two
// file-status calls per entry, the cost the reader avoids by listing the folders once.
#include <benchmark/benchmark.h>
#include <openssl/sha.h>

#include <any>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "backup_writer.h"
#include "base/notification_center.h"
#include "catalogue/manifest_reader.h"
#include "catalogue/stored_file.h"

namespace {

constexpr int kEntries = 100000;

struct BenchBackup {
  std::string root;
  std::string bare;    // the manifest alone
  std::string stored;  // the manifest and every file in two-digit folders
  std::vector<std::string> keyTexts;
  std::vector<std::string> keys;
  bool ok = false;
};

// Domains and paths in the proportions of a phone's backup: camera roll, home, media
// (message attachments), app documents, and directories among them.
fixtures::MbdbEntry entryNumber(int i) {
  fixtures::MbdbEntry e;
  e.inode = 10000 + static_cast<std::uint64_t>(i);
  e.fileLength = 1000 + static_cast<std::uint64_t>(i % 5000) * 731;
  char number[16];
  std::snprintf(number, sizeof number, "%04d", i % 10000);
  // Every file carries the SHA-1 of its content as 20 bytes; directories carry none.
  e.dataHash = std::string(20, static_cast<char>('A' + i % 26));
  switch (i % 10) {
    case 0:
    case 1:
    case 2:
      e.domain = "CameraRollDomain";
      e.path = "Media/DCIM/" + std::to_string(100 + i / 10000) + "APPLE/IMG_" + number + ".JPG";
      e.properties = {{"com.apple.assetsd.UUID", "5A4C9E2B-" + std::string(number)}};
      break;
    case 3:
    case 4:
      e.domain = "HomeDomain";
      e.path = "Library/Caches/com.apple.mobilesafari/Cache/" + std::string(number) + ".db";
      break;
    case 5:
      e.domain = "MediaDomain";
      e.path = "Library/SMS/Attachments/" + std::string(number, 2) + "/" + number + "/IMG_" +
               number + ".jpeg";
      e.properties = {{"com.apple.sms.attachment", "1"}, {"com.apple.backup.size", "81233"}};
      break;
    case 6:
    case 7:
      e.domain = "AppDomain-com.example.app" + std::to_string(i % 37);
      e.path = "Documents/Library/Application Support/store/" + std::string(number) + ".plist";
      break;
    case 8:
      e.domain = "HomeDomain";
      e.path = "Library/Preferences/com.apple.setting" + std::to_string(i) + ".plist";
      break;
    default:
      e.domain = "AppDomain-com.example.app" + std::to_string(i % 37);
      e.path = "Library/Caches/dir" + std::to_string(i);
      e.mode = 040755;
      e.fileLength = 0;
      e.dataHash.reset();
      break;
  }
  return e;
}

const BenchBackup& benchBackup() {
  static BenchBackup backup = [] {
    BenchBackup b;
    // A folder of its own, so that two runs at once do not write into each other's.
    std::string pattern =
        (std::filesystem::temp_directory_path() / "retrievo-manifest-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return b;
    b.root = pattern;
    b.bare = b.root + "/" + std::string(40, 'b');
    b.stored = b.root + "/" + std::string(40, 'c');
    fixtures::BackupWriter bare(b.bare);
    fixtures::BackupWriter stored(b.stored);
    stored.setStoredLayout(fixtures::StoredLayout::TwoDigitFolders);
    for (int i = 0; i < kEntries; ++i) {
      fixtures::MbdbEntry e = entryNumber(i);
      b.keyTexts.push_back(*e.domain + "-" + *e.path);
      b.keys.push_back(fileKeyFor(*e.domain, *e.path));
      bare.addEntry(e);
      if (e.mode == 040755) {
        stored.addEntry(e);
      } else {
        stored.addEntry(e, std::vector<std::uint8_t>());
      }
    }
    std::string error;
    b.ok = bare.write(&error) && stored.write(&error);
    if (!b.ok) std::fprintf(stderr, "cannot write the backups: %s\n", error.c_str());
    return b;
  }();
  return backup;
}

void BM_ManifestReader(benchmark::State& state) {
  const BenchBackup& b = benchBackup();
  const std::string& folder = state.range(0) ? b.stored : b.bare;
  if (!b.ok) {
    state.SkipWithError("no backup");
    return;
  }
  NotificationCenter center;
  std::size_t posts = 0;
  center.addObserver("FindBackUpDirFileInfo", [&](const std::any&) { ++posts; });
  center.addObserver("ScanProgressInfo", [&](const std::any&) { ++posts; });
  ManifestReadOptions options;
  options.nc = &center;
  std::size_t entries = 0;
  FileIndex index;
  for (auto _ : state) {
    // Releasing the previous index is the end of a scan, not part of reading.
    state.PauseTiming();
    FileIndex().swap(index);
    state.ResumeTiming();
    ManifestReadResult result = scanDirAnalyThread(folder, index, options);
    if (result.entries != static_cast<std::size_t>(kEntries)) {
      state.SkipWithError("the reader missed entries");
      return;
    }
    entries += result.entries;
    benchmark::DoNotOptimize(index.data());
  }
  benchmark::DoNotOptimize(posts);
  state.counters["entries/s"] = benchmark::Counter(double(entries), benchmark::Counter::kIsRate);
}

void BM_Reference(benchmark::State& state) {
  const BenchBackup& b = benchBackup();
  if (!b.ok) {
    state.SkipWithError("no backup");
    return;
  }
  const std::string path = b.bare + "/Manifest.mbdb";
  std::vector<unsigned char> block(64 * 1024);
  std::vector<unsigned char> whole;
  std::size_t entries = 0;
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
      state.SkipWithError("cannot open the manifest");
      return;
    }
    whole.clear();
    std::size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), file)) > 0) {
      whole.insert(whole.end(), block.begin(), block.begin() + static_cast<long>(n));
    }
    std::fclose(file);
    unsigned char digest[SHA_DIGEST_LENGTH];
    for (const std::string& text : b.keyTexts) {
      SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
      benchmark::DoNotOptimize(digest);
    }
    entries += b.keyTexts.size();
    benchmark::DoNotOptimize(whole.data());
  }
  state.counters["entries/s"] = benchmark::Counter(double(entries), benchmark::Counter::kIsRate);
}

void BM_StoredFilePathPerEntry(benchmark::State& state) {
  const BenchBackup& b = benchBackup();
  if (!b.ok) {
    state.SkipWithError("no backup");
    return;
  }
  std::size_t entries = 0;
  for (auto _ : state) {
    for (const std::string& key : b.keys) benchmark::DoNotOptimize(storedFilePath(b.stored, key));
    entries += b.keys.size();
  }
  state.counters["entries/s"] = benchmark::Counter(double(entries), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_ManifestReader)
    ->ArgName("stored")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(BM_StoredFilePathPerEntry)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Prints the usual table, then each run's entries per second and its time as a ratio to the
// reference's (all runs are in milliseconds).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      results_.push_back({run.run_name.str(), run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()});
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const Result* reference = nullptr;
    for (const Result& r : results_) {
      if (r.name.rfind("BM_Reference", 0) == 0) reference = &r;
    }
    if (!reference || reference->realMs <= 0) return;
    for (const Result& r : results_) {
      std::printf("%-45s %12.0f entries/s  ratio to reference %.2f real, %.2f CPU\n",
                  r.name.c_str(), kEntries / (r.realMs / 1e3), r.realMs / reference->realMs,
                  r.cpuMs / reference->cpuMs);
    }
    std::printf("target: BM_ManifestReader within 2x of BM_Reference\n");
  }

 private:
  struct Result {
    std::string name;
    double realMs;
    double cpuMs;
  };
  std::vector<Result> results_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(benchBackup().root, ec);
  return 0;
}
