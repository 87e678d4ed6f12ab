#include "carve/value_arena.h"

#include <sanitizer/asan_interface.h>
#include <sys/mman.h>

#include <algorithm>

#include "carve/present_memory.h"

namespace carve {

namespace {

constexpr std::size_t kFirstBlock = std::size_t{64} << 10;
constexpr std::size_t kLargestBlock = std::size_t{8} << 20;
constexpr std::size_t kAlignment = alignof(std::max_align_t);

// Under the address sanitizer each piece is followed by bytes it reports a read or write of,
// as it does past the end of memory from the heap; elsewhere pieces lie end to end.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kGuard = kAlignment;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t kGuard = kAlignment;
#else
constexpr std::size_t kGuard = 0;
#endif
#else
constexpr std::size_t kGuard = 0;
#endif

}  // namespace

ValueArena::~ValueArena() {
  for (const Block& block : blocks_) {
    ASAN_UNPOISON_MEMORY_REGION(block.base, block.size);  // the range may be mapped again
    munmap(block.base, block.size);
  }
}

void ValueArena::keepAlive(std::shared_ptr<const void> owner) {
  const std::lock_guard<std::mutex> lock(mutex_);
  kept_.push_back(std::move(owner));
}

void* ValueArena::take(std::size_t bytes) {
  if (bytes > static_cast<std::size_t>(-1) / 2) throw std::bad_alloc();
  const std::size_t wanted = bytes;
  bytes = std::max<std::size_t>((bytes + kAlignment - 1) / kAlignment * kAlignment, kAlignment);
  bytes += kGuard;
  const std::lock_guard<std::mutex> lock(mutex_);
  if (bytes > left_) {
    blocks_.reserve(blocks_.size() + 1);  // so that a mapped block is always listed
    blockSize_ = blockSize_ == 0 ? kFirstBlock : std::min(blockSize_ * 2, kLargestBlock);
    const std::size_t size = std::max(blockSize_, bytes);
    void* base = mapPresentMemory(size);
    if (base == nullptr) throw std::bad_alloc();
    blocks_.push_back(Block{base, size});
    ASAN_POISON_MEMORY_REGION(base, size);
    next_ = static_cast<std::uint8_t*>(base);
    left_ = size;
  }
  void* taken = next_;
  ASAN_UNPOISON_MEMORY_REGION(taken, wanted);
  next_ += bytes;
  left_ -= bytes;
  return taken;
}

}  // namespace carve
