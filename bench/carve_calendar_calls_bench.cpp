// The deleted-calendar and deleted-call carvers on large databases: a Calendar.sqlitedb and
// a call_history.db made by the fixture builder from the iOS 6 and iOS 7 device schemas
// (items from the volume generator, 30 % of them deleted with secure_delete off, single
// deletions and one run that frees whole pages). Reference, measured in the same run:
// reading the same file sequentially (open, read in 1 MiB blocks, close), with the page
// cache warm for both.
//
// The carvers' time includes loading the file into memory, as the steps do it, and making
// every record they post (names looked up in a small contact list for calls).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
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
using bench::sequentialRead;

constexpr int kRuns = 5;

// Builds Calendar.sqlitedb and call_history.db of `generation` into `folder`.
bool makeDatabases(int generation, int calls, int events, const std::string& folder) {
  fixtures::CalendarCallsVolume volume;
  volume.generation = generation;
  volume.calls = calls;
  volume.events = events;
  volume.deletedShare = 0.3;
  volume.seed = 2026;
  const nlohmann::json description = fixtures::calendarCallsDescription(volume);
  fixtures::ScratchFolder scratch("retrievo-calcalls-bench-build");
  fixtures::FixtureBuild build(description, generation, scratch.path());
  if (!fixtures::buildCallHistory(build) || !fixtures::buildCalendar(build)) {
    std::cerr << "build failed: " << build.error() << "\n";
    return false;
  }
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

struct CarveRun {
  double seconds = 0;
  std::int64_t posted = 0;
};

CarveRun carveEvents(const std::string& path, bool iOS6) {
  CarveRun run;
  const auto t0 = std::chrono::steady_clock::now();
  auto image = DatabaseImage::load(path);
  if (!image) return run;
  const CarveDatabase db = CarveDatabase::fromImage(std::move(*image));
  std::int64_t titled = 0;
  run.posted = carveDeletedCalendarEvents(
      db, db.isWalFile(), iOS6,
      [&](std::shared_ptr<MzCalenderNode> event) { titled += event->calTitle.empty() ? 0 : 1; });
  run.seconds = seconds(std::chrono::steady_clock::now() - t0);
  static_cast<void>(titled);
  return run;
}

CarveRun carveCalls(const std::string& path, bool iOS6) {
  CarveRun run;
  const auto t0 = std::chrono::steady_clock::now();
  auto image = DatabaseImage::load(path);
  if (!image) return run;
  const CarveDatabase db = CarveDatabase::fromImage(std::move(*image));
  auto contact = std::make_shared<MzContactNode>();
  contact->contactName = "Erik Johansson";
  contact->contactPhone = " +46 70 555 12 34";
  NameLookup names({contact});
  std::int64_t named = 0;
  run.posted = carveDeletedCalls(
      db, iOS6, [&](const std::string& phone) { return names.name(phone); },
      [&](std::shared_ptr<MzCallHistoryNode> call) { named += call->callName ? 1 : 0; });
  run.seconds = seconds(std::chrono::steady_clock::now() - t0);
  static_cast<void>(named);
  return run;
}

// Runs the carver and the reference kRuns times each, interleaved, and prints the best.
double measure(const char* name, const std::string& path,
               CarveRun (*carver)(const std::string&, bool), bool iOS6) {
  double best = 1e9, bestRef = 1e9;
  std::size_t bytes = 0;
  std::int64_t posted = 0;
  for (int run = 0; run < kRuns; ++run) {
    bestRef = std::min(bestRef, sequentialRead(path, &bytes));
    const CarveRun r = carver(path, iOS6);
    best = std::min(best, r.seconds);
    posted = r.posted;
  }
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("%s: %.1f MB, %lld records carved\n", name, mb, static_cast<long long>(posted));
  std::printf("  carver:          %.3f s = %.0f MB/s\n", best, mb / best);
  std::printf("  sequential read: %.3f s = %.0f MB/s\n", bestRef, mb / bestRef);
  std::printf("  ratio carver / sequential read: %.2f (target <= 3)\n", best / bestRef);
  return best / bestRef;
}

}  // namespace

int main() {
  fixtures::ScratchFolder scratch("retrievo-carve-calcalls-bench");
  if (scratch.path().empty()) return 1;
  const std::string ios6 = scratch.path() + "/ios6";
  const std::string ios7 = scratch.path() + "/ios7";
  std::cerr << "building the iOS 6 databases...\n";
  if (!makeDatabases(6, 60000, 15000, ios6)) return 1;
  std::cerr << "building the iOS 7 databases...\n";
  if (!makeDatabases(7, 60000, 15000, ios7)) return 1;

  double worst = 0;
  worst = std::max(
      worst, measure("calendar events (iOS 6)", ios6 + "/Calendar.sqlitedb", carveEvents, true));
  worst = std::max(
      worst, measure("calendar events (iOS 7)", ios7 + "/Calendar.sqlitedb", carveEvents, true));
  worst = std::max(worst, measure("calls (iOS 6)", ios6 + "/call_history.db", carveCalls, true));
  worst = std::max(worst, measure("calls (iOS 7)", ios7 + "/call_history.db", carveCalls, true));
  return worst <= 3 ? 0 : 1;
}
