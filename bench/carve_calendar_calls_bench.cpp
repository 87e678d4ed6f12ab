// The deleted-calendar and deleted-call carvers on large databases: a Calendar.sqlitedb and
// a call_history.db made by the fixture builder from the iOS 6 and iOS 7 device schemas
// (items from the volume generator, 30 % of them deleted with secure_delete off, single
// deletions and one run that frees whole pages).
//
// Per database it prints the carver's speed on the file held in memory (carving every page
// and making every record it posts, names looked up in a small contact list for calls; the
// records are kept, as the results keep them, and freed after the timing), the
// time loading the file into memory takes, and two references measured in the same run:
// a sequential read of the same file with the page cache warm (a kernel-to-user copy) and
// one with the file's cached pages dropped first (a read from the storage device, what a
// scan of a freshly copied backup pays). Each figure is the best of several runs. The target
// (carver time within 3x of the read) is judged against the cold read.
//
// Usage: carve_calendar_calls_bench [FOLDER] [--dump FILE] [--only TEXT]
//   FOLDER  keeps the generated databases there (ios6/, ios7/) and reuses them on later runs,
//           so that profiling does not measure the fixture builder.
//   --dump  writes every record each carver posts, all fields, to FILE instead of timing:
//           two dumps of the same databases must be identical whatever the carvers' speed.
//   --only  times only the databases whose name contains TEXT ("calls", "iOS 7").
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "calendar_calls_volume.h"
#include "carve/deleted_calendar_scanner.h"
#include "carve/deleted_calls_scanner.h"
#include "device_builders.h"
#include "extract/name_lookup.h"
#include "fixture_support.h"
#include "read_reference.h"

namespace {

using bench::seconds;

constexpr int kRuns = 7;

// Builds Calendar.sqlitedb and call_history.db of `generation` into `folder`, written with
// `journal` ("wal", "legacy") or, when null, as the builder writes them.
bool makeDatabases(int generation, const char* journal, int calls, int events,
                   const std::string& folder) {
  fixtures::CalendarCallsVolume volume;
  volume.callsJournal = journal;
  volume.calendarJournal = journal;
  volume.generation = generation;
  volume.calls = calls;
  volume.events = events;
  volume.deletedShare = 0.3;
  volume.seed = 2026;
  // 60000 calls over about eight years, 20 a day, as a heavy user makes them.
  volume.mostSecondsBetweenCalls = 8000;
  const nlohmann::json description = fixtures::calendarCallsDescription(volume);
  fixtures::ScratchFolder scratch("retrievo-calcalls-bench-build");
  fixtures::FixtureBuild build(description, generation, scratch.path());
  if (!fixtures::buildCallHistory(build) || !fixtures::buildCalendar(build)) {
    std::cerr << "build failed: " << build.error() << "\n";
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  bool wrote = true;
  for (const auto& f : build.files()) {
    if (f.path == "Library/CallHistory/call_history.db") {
      wrote = wrote && fixtures::writeFileBytes(folder + "/call_history.db", f.content);
    }
    if (f.path == "Library/Calendar/Calendar.sqlitedb") {
      wrote = wrote && fixtures::writeFileBytes(folder + "/Calendar.sqlitedb", f.content);
    }
  }
  return wrote;
}

bool haveDatabases(const std::string& folder) {
  std::error_code ec;
  return std::filesystem::is_regular_file(folder + "/call_history.db", ec) &&
         std::filesystem::is_regular_file(folder + "/Calendar.sqlitedb", ec);
}

NameLookup benchNames() {
  auto contact = std::make_shared<MzContactNode>();
  contact->contactName = "Erik Johansson";
  contact->contactPhone = " +46 70 555 12 34";
  return NameLookup({contact});
}


// The records a timed carve posted, kept as the results keep them and released after the
// timing: the benchmark measures making the records, not freeing them.
std::vector<std::shared_ptr<void>> keptRecords;

// One carver over a database in memory; `out`, when given, receives every record posted.
using Carver = std::int64_t (*)(const CarveDatabase&, bool iOS6, std::FILE* out);

std::int64_t carveEvents(const CarveDatabase& db, bool iOS6, std::FILE* out) {
  std::int64_t titled = 0;
  const std::int64_t posted = carveDeletedCalendarEvents(
      db, db.isWalFile(), iOS6, [&](std::shared_ptr<MzCalenderNode> event) {
        titled += event->calTitle.empty() ? 0 : 1;
        if (!out) {
          keptRecords.push_back(std::move(event));
          return;
        }
        std::fprintf(out, "event\t%s\t%s\t%s\t%s\t%s\n", bench::escaped(event->calTitle).c_str(),
                     bench::escaped(event->location).c_str(), bench::escaped(event->calNote).c_str(),
                     bench::escaped(event->startDate).c_str(), bench::escaped(event->endDate).c_str());
      });
  static_cast<void>(titled);
  return posted;
}

std::int64_t carveCalls(const CarveDatabase& db, bool iOS6, std::FILE* out) {
  NameLookup names = benchNames();
  // The second carver's own lookup, as the scan gives it.
  NameLookup secondNames = benchNames();
  CallCarvers carvers;
  carvers.secondNameOf = [&](const std::string& phone) { return secondNames.name(phone); };
  std::int64_t named = 0;
  const std::int64_t posted = carveDeletedCalls(
      db, iOS6, [&](const std::string& phone) { return names.name(phone); },
      [&](std::shared_ptr<MzCallHistoryNode> call) {
        named += call->callName ? 1 : 0;
        if (!out) {
          keptRecords.push_back(std::move(call));
          return;
        }
        std::fprintf(out, "call\t%s\t%s\t%d\t%s\t%s\t%s\n", bench::escaped(call->callPhone).c_str(),
                     bench::escaped(call->callDate).c_str(), call->callTime,
                     bench::escaped(call->callType).c_str(), bench::escaped(call->callDuration).c_str(),
                     call->callName ? ("=" + bench::escaped(*call->callName)).c_str() : "(none)");
      },
      carvers);
  static_cast<void>(named);
  return posted;
}

std::optional<CarveDatabase> loadDatabase(const std::string& path, double* loadSeconds) {
  const auto t0 = std::chrono::steady_clock::now();
  auto image = DatabaseImage::load(path);
  if (!image) return std::nullopt;
  CarveDatabase db = CarveDatabase::fromImage(std::move(*image));
  *loadSeconds = seconds(std::chrono::steady_clock::now() - t0);
  return db;
}

// Times the carver (best of kRuns on the loaded file), the loading and both reads, and
// prints them. Returns the carver / cold-read ratio, or a large value on failure.
double measure(const char* name, const std::string& path, Carver carver, bool iOS6) {
  double bestLoad = 1e30, bestCarve = 1e30;
  std::optional<CarveDatabase> db;
  for (int run = 0; run < kRuns; ++run) {
    double load = 0;
    db = loadDatabase(path, &load);
    if (!db) {
      std::fprintf(stderr, "%s: cannot load %s\n", name, path.c_str());
      return 1e30;
    }
    bestLoad = std::min(bestLoad, load);
  }
  std::int64_t posted = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto t0 = std::chrono::steady_clock::now();
    keptRecords.reserve(200000);
    posted = carver(*db, iOS6, nullptr);
    bestCarve = std::min(bestCarve, seconds(std::chrono::steady_clock::now() - t0));
    keptRecords.clear();
  }
  std::size_t bytes = 0;
  const double warm = bench::bestOf(kRuns, bench::sequentialRead, path, &bytes);
  const double cold = bench::bestOf(kRuns, bench::coldSequentialRead, path, &bytes);
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("%s: %.1f MB, %lld records carved\n", name, mb, static_cast<long long>(posted));
  return bench::printCarverFigures(mb, bestCarve, bestLoad, warm, cold);
}

// The generated database sets: a subfolder each.
struct Generation {
  const char* folder;
  int number;
  const char* journal;
};

constexpr Generation kGenerations[] = {
    {"ios6", 6, nullptr}, {"ios7", 7, nullptr}, {"ios6-legacy", 6, "legacy"}};

struct Database {
  const char* name;
  const char* file;
  Carver carver;
  const char* generation;
};

constexpr Database kDatabases[] = {
    {"calendar events (iOS 6)", "Calendar.sqlitedb", carveEvents, "ios6"},
    {"calendar events (iOS 7)", "Calendar.sqlitedb", carveEvents, "ios7"},
    {"calendar events (iOS 6, no write-ahead log)", "Calendar.sqlitedb", carveEvents,
     "ios6-legacy"},
    {"calls (iOS 6)", "call_history.db", carveCalls, "ios6"},
    {"calls (iOS 7)", "call_history.db", carveCalls, "ios7"},
};

// Writes every record of every database to `dumpPath`, each database carved as iOS 6 and
// as an older backup (the two paths that choose serial-type counts differently).
int dump(const std::string& folder, const std::string& dumpPath) {
  std::FILE* out = std::fopen(dumpPath.c_str(), "w");
  if (!out) return 1;
  for (const Database& d : kDatabases) {
    for (const bool iOS6 : {true, false}) {
      double load = 0;
      const std::string path = folder + "/" + d.generation + "/" + d.file;
      auto db = loadDatabase(path, &load);
      if (!db) return 1;
      std::fprintf(out, "# %s, %s\n", d.name, iOS6 ? "iOS 6 and later" : "older");
      const std::int64_t posted = d.carver(*db, iOS6, out);
      std::fprintf(out, "# %lld posted\n", static_cast<long long>(posted));
    }
  }
  std::fclose(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string keep;
  std::string dumpPath;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dump") == 0 && i + 1 < argc) {
      dumpPath = argv[++i];
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr,
                   "usage: carve_calendar_calls_bench [FOLDER] [--dump FILE] [--only TEXT]\n");
      return 2;
    } else {
      keep = argv[i];
    }
  }
  fixtures::ScratchFolder scratch("retrievo-carve-calcalls-bench");
  const std::string folder = keep.empty() ? scratch.path() : keep;
  if (folder.empty()) return 1;
  for (const Generation& g : kGenerations) {
    const std::string at = folder + "/" + g.folder;
    if (haveDatabases(at)) continue;
    std::cerr << "building the " << g.folder << " databases...\n";
    if (!makeDatabases(g.number, g.journal, 60000, 15000, at)) return 1;
  }
  if (!dumpPath.empty()) return dump(folder, dumpPath);

  double worst = 0;
  for (const Database& d : kDatabases) {
    if (std::string_view(d.name).find(only) == std::string_view::npos) continue;
    const std::string path = folder + "/" + d.generation + "/" + d.file;
    worst = std::max(worst, measure(d.name, path, d.carver, true));
  }
  return worst <= 3 ? 0 : 1;
}
