// Building the backup-browser tree from 100,000 file-index records, in the proportions of a
// phone's backup (camera roll, caches, message attachments in two-level folders, app
// documents, preferences, directories), and from records that crowd one level (20,000
// subdirectories of one directory, arriving in random order). Reference, measured in the same
// run: a std::map from the same full texts (device, domain, device path) to the same file
// details. With stored files, both sides stat each record's stored file (real empty files in
// two-digit folders); without, the records carry no stored file and only the structure costs.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/conversions.h"
#include "results/tree_controller.h"

namespace {

constexpr int kEntries = 100000;
constexpr int kCrowded = 20000;
const std::string kDevice = "Bench iPhone";

std::shared_ptr<MzTreeDirNode> recordNumber(int i) {
  auto r = std::make_shared<MzTreeDirNode>();
  char number[16];
  std::snprintf(number, sizeof number, "%04d", i % 10000);
  switch (i % 10) {
    case 0:
    case 1:
    case 2:
      r->fileDomain = "CameraRollDomain";
      r->filePath = "Media/DCIM/" + std::to_string(100 + i / 1000) + "APPLE/IMG_" + number + ".JPG";
      break;
    case 3:
    case 4:
      r->fileDomain = "HomeDomain";
      r->filePath = "Library/Caches/com.apple.mobilesafari/Cache/" + std::to_string(i) + ".db";
      break;
    case 5:
      r->fileDomain = "MediaDomain";
      r->filePath = "Library/SMS/Attachments/" + std::to_string(i % 256) + "/" +
                    std::to_string(i % 4096) + "/IMG_" + std::to_string(i) + ".jpeg";
      break;
    case 6:
    case 7:
      r->fileDomain = "AppDomain-com.example.app" + std::to_string(i % 37);
      r->filePath = "Documents/Library/Application Support/store/" + std::to_string(i) + ".plist";
      break;
    case 8:
      r->fileDomain = "HomeDomain";
      r->filePath = "Library/Preferences/com.apple.setting" + std::to_string(i) + ".plist";
      break;
    default:
      r->fileDomain = "AppDomain-com.example.app" + std::to_string(i % 37);
      r->filePath = "Library/Caches/dir" + std::to_string(i);
      r->isFolder = true;
      break;
  }
  return r;
}

struct BenchRecords {
  std::string root;  // temporary folder of the stored files
  FileIndex plain;   // no stored files
  FileIndex stored;  // stored files in two-digit folders
  FileIndex crowded;
  bool ok = false;
};

const BenchRecords& benchRecords() {
  static BenchRecords b = [] {
    BenchRecords out;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "retrievo-tree-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return out;
    out.root = pattern;
    std::error_code ec;
    for (int i = 0; i < kEntries; ++i) {
      auto r = recordNumber(i);
      out.plain.push_back(r);
      auto s = std::make_shared<MzTreeDirNode>(*r);
      if (!s->isFolder) {
        char key[48];
        std::snprintf(key, sizeof key, "%02x/%038d", i % 256, i);
        s->fileKey = out.root + "/" + key;
        std::filesystem::create_directories(out.root + "/" + std::string(key, 2), ec);
        std::ofstream(s->fileKey, std::ios::binary) << std::string(i % 7, 'x');
      }
      out.stored.push_back(std::move(s));
    }
    std::vector<int> order(kCrowded);
    for (int i = 0; i < kCrowded; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    for (int i : order) {
      auto r = std::make_shared<MzTreeDirNode>();
      r->fileDomain = "MediaDomain";
      r->filePath = "Library/Crowded/folder" + std::to_string(i) + "/file.dat";
      out.crowded.push_back(std::move(r));
    }
    out.ok = true;
    return out;
  }();
  return b;
}

const FileIndex& recordsFor(int which) {
  const BenchRecords& b = benchRecords();
  return which == 0 ? b.plain : (which == 1 ? b.stored : b.crowded);
}

void BM_Tree(benchmark::State& state) {
  if (!benchRecords().ok) {
    state.SkipWithError("no records");
    return;
  }
  const FileIndex& records = recordsFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    MzTreeController tree;
    tree.currentDeviceName = [] { return kDevice; };
    for (const auto& r : records) tree.addTreeNode(r);
    benchmark::DoNotOptimize(tree.roots().data());
  }
  state.counters["entries/s"] = benchmark::Counter(
      double(records.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// The same details a file node holds, kept in an ordered map by full path.
struct MapEntry {
  std::string name;
  std::string sizeText;
  std::uint64_t size = 0;
  bool isFile = false;
};

void BM_Reference(benchmark::State& state) {
  if (!benchRecords().ok) {
    state.SkipWithError("no records");
    return;
  }
  const FileIndex& records = recordsFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::map<std::string, MapEntry> map;
    for (const auto& r : records) {
      MapEntry e;
      const std::string& p = r->filePath;
      e.name = p.substr(p.rfind('/') + 1);
      struct stat st {};
      if (!r->fileKey.empty() && ::stat(r->fileKey.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        e.isFile = true;
        e.size = static_cast<std::uint64_t>(st.st_size);
      }
      e.sizeText = sizeText(e.size);
      map.emplace(kDevice + "/" + r->fileDomain + "/" + p, std::move(e));
    }
    benchmark::DoNotOptimize(map.size());
  }
  state.counters["entries/s"] = benchmark::Counter(
      double(records.size()) * double(state.iterations()), benchmark::Counter::kIsRate);
}

// Argument: 0 = 100,000 records without stored files, 1 = with stored files, 2 = 20,000
// subdirectories of one directory.
BENCHMARK(BM_Tree)->ArgName("records")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference)->ArgName("records")->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

// Prints the usual table, then each tree run's time as a ratio to the reference run of the
// same records.
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
    for (const Result& tree : results_) {
      if (tree.name.rfind("BM_Tree/", 0) != 0) continue;
      const std::string args = tree.name.substr(std::string("BM_Tree").size());
      for (const Result& ref : results_) {
        if (ref.name != "BM_Reference" + args || ref.realMs <= 0) continue;
        std::printf("%-24s %8.1f ms, reference %8.1f ms: ratio %.2f real, %.2f CPU\n",
                    tree.name.c_str(), tree.realMs, ref.realMs, tree.realMs / ref.realMs,
                    tree.cpuMs / ref.cpuMs);
      }
    }
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
  if (!benchRecords().root.empty()) std::filesystem::remove_all(benchRecords().root, ec);
  return 0;
}
