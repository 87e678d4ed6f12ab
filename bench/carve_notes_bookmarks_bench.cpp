// The deleted-note and deleted-bookmark carvers on large databases: a notes.sqlite and a
// Bookmarks.db made by the fixture builder from the device schemas (items from the volume
// generator, 30 % of them deleted with secure_delete off, schema format 1 so that the
// carvers find their records). Reference, measured in the same run: reading the same file
// sequentially (open, read in 1 MiB blocks, close), with the page cache warm for both.
//
// The carvers' time includes loading the file into memory, as the steps do it, and for
// notes the assembly of the posted notes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "carve/deleted_bookmarks_scanner.h"
#include "carve/deleted_notes_scanner.h"
#include "device_builders.h"
#include "fixture_support.h"
#include "notes_volume.h"
#include "read_reference.h"

namespace {

using bench::seconds;
using bench::sequentialRead;

constexpr int kRuns = 5;

// Builds notes.sqlite and Bookmarks.db of `generation` and writes them into `folder`.
bool makeDatabases(int generation, int notes, int bookmarks, const std::string& folder) {
  fixtures::NotesBookmarksVolume volume;
  volume.generation = generation;
  volume.notes = notes;
  volume.bookmarks = bookmarks;
  volume.deletedShare = 0.3;
  volume.schemaFormat = 1;
  volume.seed = 2024;
  const nlohmann::json description = fixtures::notesBookmarksDescription(volume);
  fixtures::ScratchFolder scratch("retrievo-notes-bench-build");
  fixtures::FixtureBuild build(description, generation, scratch.path());
  if (!fixtures::buildNotes(build) || !fixtures::buildSafari(build)) {
    std::cerr << "build failed: " << build.error() << "\n";
    return false;
  }
  bool wrote = true;
  for (const auto& f : build.files()) {
    if (f.path == "Library/Notes/notes.sqlite") {
      wrote = wrote && fixtures::writeFileBytes(folder + "/notes.sqlite", f.content);
    }
    if (f.path == "Library/Safari/Bookmarks.db") {
      wrote = wrote && fixtures::writeFileBytes(folder + "/Bookmarks.db", f.content);
    }
  }
  return wrote;
}

struct CarveRun {
  double seconds = 0;
  std::size_t posted = 0;
};

CarveRun carveNotes(const std::string& path, bool iOS7) {
  CarveRun run;
  const auto t0 = std::chrono::steady_clock::now();
  auto image = DatabaseImage::load(path);
  if (!image) return run;
  const CarveDatabase db = CarveDatabase::fromImage(std::move(*image));
  RecordList<MzNoteNode> notes;
  RecordList<MzNoteValueNode> bodies;
  carveDeletedNotePages(db, true, iOS7, notes, bodies);
  run.posted = assembleDeletedNotes(notes, bodies).size();
  run.seconds = seconds(std::chrono::steady_clock::now() - t0);
  return run;
}

CarveRun carveBookmarks(const std::string& path, bool) {
  CarveRun run;
  const auto t0 = std::chrono::steady_clock::now();
  auto image = DatabaseImage::load(path);
  if (!image) return run;
  const CarveDatabase db = CarveDatabase::fromImage(std::move(*image));
  for (const auto& b : carveDeletedBookmarks(db)) run.posted += isTopBookmarkFolder(*b) ? 0 : 1;
  run.seconds = seconds(std::chrono::steady_clock::now() - t0);
  return run;
}

// Runs the carver and the reference kRuns times each, interleaved, and prints the best.
double measure(const char* name, const std::string& path,
               CarveRun (*carver)(const std::string&, bool), bool iOS7) {
  double best = 1e9, bestRef = 1e9;
  std::size_t bytes = 0, posted = 0;
  for (int run = 0; run < kRuns; ++run) {
    bestRef = std::min(bestRef, sequentialRead(path, &bytes));
    const CarveRun r = carver(path, iOS7);
    best = std::min(best, r.seconds);
    posted = r.posted;
  }
  const double mb = static_cast<double>(bytes) / 1e6;
  std::printf("%s: %.1f MB, %zu records posted\n", name, mb, posted);
  std::printf("  carver:          %.3f s = %.0f MB/s\n", best, mb / best);
  std::printf("  sequential read: %.3f s = %.0f MB/s\n", bestRef, mb / bestRef);
  std::printf("  ratio carver / sequential read: %.2f (target <= 3)\n", best / bestRef);
  return best / bestRef;
}

}  // namespace

int main() {
  fixtures::ScratchFolder scratch("retrievo-carve-notes-bench");
  if (scratch.path().empty()) return 1;
  const std::string ios6 = scratch.path() + "/ios6";
  const std::string ios7 = scratch.path() + "/ios7";
  std::cerr << "building the iOS 6 databases...\n";
  if (!makeDatabases(6, 8000, 10000, ios6)) return 1;
  std::cerr << "building the iOS 7 databases...\n";
  if (!makeDatabases(7, 8000, 10000, ios7)) return 1;

  double worst = 0;
  worst = std::max(worst, measure("notes, write-ahead layout before iOS 7 (iOS 6)",
                                  ios6 + "/notes.sqlite", carveNotes, false));
  worst = std::max(worst, measure("notes, iOS 7 layout", ios7 + "/notes.sqlite", carveNotes, true));
  worst =
      std::max(worst, measure("bookmarks (iOS 6)", ios6 + "/Bookmarks.db", carveBookmarks, false));
  worst =
      std::max(worst, measure("bookmarks (iOS 7)", ios7 + "/Bookmarks.db", carveBookmarks, false));
  return worst <= 3 ? 0 : 1;
}
