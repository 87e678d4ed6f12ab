// Records made many to an allocation. A carver makes tens of thousands of small records in
// a row, and the results keep them for as long as the scan is shown; one allocation per
// block of records instead of one per record saves most of the allocator's work.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace carve {

// Hands out records of type T, each made as `T()` makes it, from blocks of kPerBlock. Each
// record's shared_ptr shares the count of its block: the block is freed when the last of
// its records is, so a record kept alone keeps its whole block. A record is made in its
// block's storage when it is handed out, not when the block is allocated. Records of one
// RecordBlocks are made on one thread; they may be released on any.
template <typename T, std::size_t kPerBlock = 256>
class RecordBlocks {
 public:
  std::shared_ptr<T> make() {
    if (!block_ || block_->made == kPerBlock) block_ = std::make_shared_for_overwrite<Block>();
    T* record = ::new (static_cast<void*>(block_->storage + block_->made * sizeof(T))) T();
    ++block_->made;
    return std::shared_ptr<T>(block_, record);
  }

 private:
  struct Block {
    Block() = default;
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() {
      for (std::size_t i = 0; i < made; ++i) {
        std::launder(reinterpret_cast<T*>(storage + i * sizeof(T)))->~T();
      }
    }
    alignas(T) std::byte storage[kPerBlock * sizeof(T)];
    std::size_t made = 0;
  };
  std::shared_ptr<Block> block_;
};

}  // namespace carve
