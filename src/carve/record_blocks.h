// Records made many to an allocation. A carver makes tens of thousands of small records in
// a row, and the results keep them for as long as the scan is shown; one allocation per
// block of records instead of one per record saves most of the allocator's work.
#pragma once

#include <cstddef>
#include <memory>

namespace carve {

// Hands out records of type T from blocks of kPerBlock. A block is default-initialised, not
// zeroed first: T must give each of its members an initialiser of its own, and a record then
// starts as make_shared<T>() would make it. Each record's shared_ptr shares the count of its
// block: the block is freed when the last of its records is, so a record kept alone keeps
// its whole block. Records of one RecordBlocks are made on one thread; they may be released
// on any.
template <typename T, std::size_t kPerBlock = 256>
class RecordBlocks {
 public:
  std::shared_ptr<T> make() {
    if (used_ == kPerBlock) {
      block_ = std::make_shared_for_overwrite<T[]>(kPerBlock);
      used_ = 0;
    }
    return std::shared_ptr<T>(block_, &block_[used_++]);
  }

 private:
  std::shared_ptr<T[]> block_;
  std::size_t used_ = kPerBlock;
};

}  // namespace carve
