// Two carvers over one file: runs of pages shared out between this thread and a second one,
// the records posted on this thread in page order.
//
// The carvers of a file go through its pages one by one, and a page's records depend on
// that page alone (and on the file, which does not change). Two carvers can therefore take
// runs of pages in turn; the caller's thread posts each run's records as soon as the runs
// before it are posted, so the records and their order are those of one carver going
// through the pages alone.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace carve {

// Pages are shared out between the two carvers in runs of this many.
constexpr std::int64_t kPagesPerRun = 16;
// Below this many pages one carver does it all: a thread costs more than it saves.
constexpr std::int64_t kPagesWorthASecondCarver = 256;

// The runs of pages of one carve and the records carved from each, handed from the carver
// that carved a run to the caller's thread.
template <typename Record>
class PageRuns {
 public:
  explicit PageRuns(std::int64_t pages)
      : count_((pages + kPagesPerRun - 1) / kPagesPerRun),
        records_(static_cast<std::size_t>(count_)),
        finished_(static_cast<std::size_t>(count_)),
        done_(std::make_unique<std::atomic<bool>[]>(static_cast<std::size_t>(count_))) {}

  // The next run nobody has claimed, or -1 when all are claimed.
  std::int64_t claim() {
    const std::int64_t run = next_.fetch_add(1);
    return run < count_ ? run : -1;
  }
  static std::int64_t firstPage(std::int64_t run) { return run * kPagesPerRun; }
  // The carver of `run` hands over its records; `finished`: what the carver says of them
  // (whether it did all the work on them the caller would otherwise do). A carver fills a
  // vector of its own and hands it over whole: the runs' vectors lie side by side, and two
  // carvers appending to neighbouring ones would share their cache lines.
  void finish(std::int64_t run, std::vector<Record>&& records, bool finished) {
    records_[static_cast<std::size_t>(run)] = std::move(records);
    finished_[static_cast<std::size_t>(run)] = finished;
    done_[static_cast<std::size_t>(run)].store(true, std::memory_order_release);
  }
  // Hands every record of every finished run from the first one not handed yet on to
  // `take(record, finished)`, in order, and stops at a run still being carved.
  template <typename Take>
  void handOnFinished(Take&& take) {
    while (posted_ < count_ &&
           done_[static_cast<std::size_t>(posted_)].load(std::memory_order_acquire)) {
      auto& records = records_[static_cast<std::size_t>(posted_)];
      const bool finished = finished_[static_cast<std::size_t>(posted_)] != 0;
      for (Record& record : records) take(std::move(record), finished);
      records.clear();
      records.shrink_to_fit();
      ++posted_;
    }
  }

 private:
  std::int64_t count_;
  std::atomic<std::int64_t> next_{0};
  std::vector<std::vector<Record>> records_;
  std::vector<char> finished_;
  std::unique_ptr<std::atomic<bool>[]> done_;
  std::int64_t posted_ = 0;  // the caller's thread only
};

// Carves pages [0, pageCount) with two carvers: `own` on this thread and one that
// makeSecond() makes on a second thread (this thread carves every run when no thread is to
// be had). carveRun(carver, first, last, records) appends the records of pages [first,
// last) and returns what PageRuns::finish() takes as `finished`; post(record, finished) is
// called on this thread only, for every record in page order.
template <typename Record, typename Carver, typename MakeSecond, typename CarveRun,
          typename Post>
void carveInTwoRuns(std::int64_t pageCount, Carver& own, MakeSecond&& makeSecond,
                    CarveRun&& carveRun, Post&& post) {
  PageRuns<Record> runs(pageCount);
  auto carveOne = [&](auto& carver, std::int64_t run) {
    const std::int64_t first = PageRuns<Record>::firstPage(run);
    const std::int64_t last = std::min(pageCount, first + kPagesPerRun);
    std::vector<Record> records;
    const bool finished = carveRun(carver, first, last, records);
    runs.finish(run, std::move(records), finished);
  };
  std::optional<std::jthread> second;
  try {
    second.emplace([&] {
      auto carver = makeSecond();
      for (std::int64_t run = runs.claim(); run >= 0; run = runs.claim()) carveOne(carver, run);
    });
  } catch (const std::system_error&) {
    // No second thread to be had: this one carves every run.
  }
  for (std::int64_t run = runs.claim(); run >= 0; run = runs.claim()) {
    carveOne(own, run);
    runs.handOnFinished(post);
  }
  second.reset();  // joins
  runs.handOnFinished(post);
}

}  // namespace carve
