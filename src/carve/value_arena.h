// Memory for the values of many carved rows, and for the records made from them. A large
// carve makes tens of thousands of rows of dozens of values each; taken a row at a time from
// the heap, that memory costs more than the carving that fills it (a large allocation each,
// and the heap growing page by page). An arena takes blocks of growing size from the system,
// hands them out in order, and gives them back only when it is gone.
//
// `ArenaAllocator` lets a std::vector (or std::allocate_shared) take its memory from an
// arena it shares; the arena lives as long as the last vector or record holding a piece of
// it. A vector made by copying, or without an arena, takes its memory from the heap as
// usual, so a copied row never keeps an arena alive. Memory a vector gives back to an arena
// is not reused: an arena is for rows that mostly live as long as each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

namespace carve {

class ValueArena {
 public:
  ValueArena() = default;
  ~ValueArena();
  ValueArena(const ValueArena&) = delete;
  ValueArena& operator=(const ValueArena&) = delete;

  // `bytes` bytes aligned for any type; throws std::bad_alloc when no memory is to be had,
  // as the heap does. Safe to call from several threads, though each thread should have an
  // arena of its own so that none waits.
  void* take(std::size_t bytes);
  // Keeps `owner` (the memory of a database image) alive as long as the arena: values in the
  // arena's rows may then borrow their bytes from that memory rather than copy them.
  void keepAlive(std::shared_ptr<const void> owner);

 private:
  struct Block {
    void* base = nullptr;
    std::size_t size = 0;
  };
  std::mutex mutex_;
  std::vector<Block> blocks_;
  std::vector<std::shared_ptr<const void>> kept_;
  std::uint8_t* next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t blockSize_ = 0;  // of the last block; the next is twice as large, up to a cap
};

template <class T>
class ArenaAllocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;
  using propagate_on_container_copy_assignment = std::false_type;

  ArenaAllocator() noexcept = default;
  explicit ArenaAllocator(std::shared_ptr<ValueArena> arena) noexcept : arena_(std::move(arena)) {}
  template <class U>
  ArenaAllocator(const ArenaAllocator<U>& other) noexcept : arena_(other.arena()) {}

  T* allocate(std::size_t n) {
    if (!arena_) return std::allocator<T>().allocate(n);
    static_assert(alignof(T) <= alignof(std::max_align_t));
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(arena_->take(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (!arena_) std::allocator<T>().deallocate(p, n);
  }
  // A copy takes its memory from the heap.
  ArenaAllocator select_on_container_copy_construction() const { return {}; }

  const std::shared_ptr<ValueArena>& arena() const { return arena_; }
  template <class U>
  bool operator==(const ArenaAllocator<U>& other) const {
    return arena_ == other.arena();
  }

 private:
  std::shared_ptr<ValueArena> arena_;
};

}  // namespace carve
