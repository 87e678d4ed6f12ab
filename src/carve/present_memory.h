// Memory about to be filled whole (a database read into memory, blocks of carved values),
// taken from the system in huge pages where it lends them and with every page made present
// in one call: where each page fault is costly, that is far cheaper than faulting the pages
// in one at a time as they are first written. Where either advice is not known, the pages
// come as they are touched.
#pragma once

#include <sys/mman.h>

#include <cstddef>

namespace carve {

// `size` bytes readable and writable, or null when the system has none; give them back
// with munmap.
inline void* mapPresentMemory(std::size_t size) {
  void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  madvise(base, size, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
  madvise(base, size, MADV_POPULATE_WRITE);
#endif
  return base;
}

}  // namespace carve
