// A database file held in memory for carving.
//
// The carvers probe every byte offset of many pages; mapping the file once and answering
// each probe from memory gives the same bytes as seeking and reading the file for every
// probe, without millions of small reads. A file is mapped read-only rather than copied
// into the heap, so memory follows the pages the carvers touch and the kernel can drop
// them again; the holes of a sparse file read as zeros without taking memory. Offsets are
// signed 64-bit so that an offset a carver computes by stepping back from a match (and that
// may fall before the file) is a plain value, never undefined behaviour: every byte outside
// [0, size()) reads as 0x00, exactly as a short read past the end of the file leaves a
// zero-filled buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class DatabaseImage {
 public:
  DatabaseImage() = default;
  // An image of bytes already in memory (tests, fuzzing, benchmarks).
  explicit DatabaseImage(std::vector<std::uint8_t> bytes);

  // Maps the whole file at `path` read-only; none (errno set) when it cannot be opened or
  // mapped. The file must not be shortened while the image lives (the scan's private copies
  // are not).
  static std::optional<DatabaseImage> load(const std::string& path);
  // Reads the first `size` bytes of the open file `fd` (fewer when it is shorter) into memory
  // of the image's own, in huge pages where the system lends them and made present before
  // the read rather than zeroed page by page on first touch; none when reading fails. Unlike a
  // mapped file, the image stays whole if the file is shortened or removed afterwards.
  static std::optional<DatabaseImage> read(int fd, std::size_t size);

  std::int64_t size() const { return size_; }
  const std::uint8_t* data() const { return data_; }

  // The byte at `offset`, 0 outside the file.
  std::uint8_t at(std::int64_t offset) const {
    return contains(offset) ? data_[static_cast<std::size_t>(offset)] : 0;
  }
  bool contains(std::int64_t offset) const { return offset >= 0 && offset < size(); }

  // Copies the `n` bytes at `offset` to `out`; bytes outside the file are written as zero.
  void copy(std::int64_t offset, std::size_t n, std::uint8_t* out) const;

  // True when the `n` bytes at `offset` equal `pattern` (bytes outside the file are 0).
  bool matches(std::int64_t offset, const std::uint8_t* pattern, std::size_t n) const;

  // What keeps the bytes alive: whoever holds it may read them after the image is gone.
  const std::shared_ptr<const void>& owner() const { return owner_; }

 private:
  std::shared_ptr<const void> owner_;  // the vector or the mapping the bytes live in
  const std::uint8_t* data_ = nullptr;
  std::int64_t size_ = 0;
};
