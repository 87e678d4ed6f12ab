// Work shared by the threads of the machine: the carver's large loops (pages, rows) take
// their next item from a shared counter on each thread and keep what they make per item or
// per thread, so that the result is the one a single thread would make.
#pragma once

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace carve {

// How many threads large work runs on: as many as the machine runs at once, up to eight.
inline unsigned workerThreads() { return std::clamp(std::thread::hardware_concurrency(), 1u, 8u); }

// Runs `work(slot)` for each slot in [0, threads): slot 0 on this thread, the others on
// threads of their own, and returns when all are done. A thread the system will not start
// is left out; the slots that run do the rest, since they take items until none are left.
// `between` runs on this thread after the others have started and before its own slot.
template <class Work, class Between>
void runOnThreads(unsigned threads, Work&& work, Between&& between) {
  std::vector<std::thread> helpers;
  for (unsigned slot = 1; slot < threads; ++slot) {
    try {
      helpers.emplace_back([&work, slot] { work(slot); });
    } catch (const std::system_error&) {
      break;
    }
  }
  between();
  work(0u);
  for (std::thread& helper : helpers) helper.join();
}

template <class Work>
void runOnThreads(unsigned threads, Work&& work) {
  runOnThreads(threads, work, [] {});
}

}  // namespace carve
