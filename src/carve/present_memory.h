// Memory about to be filled whole (a database read into memory, blocks of carved values,
// the new room of a list that grows large), taken from the system in huge pages where it
// lends them and with every page made present in one call: where each page fault is costly,
// that is far cheaper than faulting the pages in one at a time as they are first written.
// Where either advice is not known, the pages come as they are touched.
#pragma once

#include <sys/mman.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

namespace carve {

// The page-aligned range [begin, end) that covers [data, data + size).
inline std::pair<std::uintptr_t, std::uintptr_t> pagesOf(const void* data, std::size_t size) {
  constexpr std::uintptr_t kPage = 4096;
  const auto begin = reinterpret_cast<std::uintptr_t>(data) & ~(kPage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(data) + size + kPage - 1) & ~(kPage - 1);
  return {begin, end};
}

// Asks that [data, data + size) be given huge pages where the system lends them, as its
// pages are first touched. Only advice.
inline void adviseHugePages(const void* data, std::size_t size) {
  const auto [begin, end] = pagesOf(data, size);
  if (begin < end) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// Makes the pages of [data, data + size) present, in huge pages where the system lends them:
// memory about to be written whole, as a growing list's new room is. Only advice: where
// the system does not take it the pages come as they are touched.
inline void makePresent(const void* data, std::size_t size) {
  const auto [begin, end] = pagesOf(data, size);
  if (begin >= end) return;
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
}

// `size` bytes readable and writable, or null when the system has none; give them back
// with munmap.
inline void* mapPresentMemory(std::size_t size) {
  void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  makePresent(base, size);
  return base;
}

// Below this size a list's pages are left to come as they are touched: few faults.
constexpr std::size_t kPresentAtOnce = std::size_t{1} << 20;

// Room in `list` for `more` items past its size. When it must grow it at least doubles, and
// the room of a large list is asked for in huge pages: a list that grows to tens of
// megabytes is otherwise faulted in a small page at a time. Only the room about to be
// filled is made present at once; the rest comes a huge page at a time if it is used.
template <class T>
void reserveInHugePages(std::vector<T>& list, std::size_t more) {
  if (list.capacity() - list.size() >= more) return;
  std::vector<T> grown;
  grown.reserve(std::max(list.capacity() * 2, list.size() + more));
  const std::size_t bytes = grown.capacity() * sizeof(T);
  if (bytes >= kPresentAtOnce) {  // before the items move in
    adviseHugePages(grown.data(), bytes);
    makePresent(grown.data(), (list.size() + more) * sizeof(T));
  }
  grown.insert(grown.end(), std::make_move_iterator(list.begin()),
               std::make_move_iterator(list.end()));
  list.swap(grown);
}

}  // namespace carve
