#include "carve/database_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Lays anonymous memory over the holes of a sparse file in its mapping. A read of a hole
// through the file mapping fills the page cache with zero pages, so a file that claims
// gigabytes would still cost gigabytes of memory; untouched anonymous memory reads as zero
// from one shared page. Only whole pages inside a hole are replaced.
void unmapHoles(int fd, std::uint8_t* base, off_t length, int protection = PROT_READ) {
  const off_t page = sysconf(_SC_PAGESIZE);
  off_t data = 0;
  while (data < length) {
    const off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole < 0 || hole >= length) return;
    off_t next = lseek(fd, hole, SEEK_DATA);
    if (next < 0) next = length;  // ENXIO: no data after the hole
    const off_t from = (hole + page - 1) / page * page;
    const off_t to = next / page * page;
    if (to > from) {
      mmap(base + from, static_cast<std::size_t>(to - from), protection,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    }
    data = next;
  }
}

std::size_t roundToPages(std::size_t n) {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return (n + page - 1) / page * page;
}

}  // namespace

// A mapped file: the mapping and the descriptor kept open to map it again.
struct DatabaseImage::Mapping {
  Mapping(void* base, std::size_t length, int fd) : base(base), length(length), fd(fd) {}
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  ~Mapping() {
    munmap(base, length);
    close(fd);
  }
  void* base;
  std::size_t length;
  int fd;
};

DatabaseImage::DatabaseImage(std::vector<std::uint8_t> bytes) {
  auto held = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  data_ = held->data();
  size_ = static_cast<std::int64_t>(held->size());
  owner_ = std::move(held);
}

std::optional<DatabaseImage> DatabaseImage::load(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
    close(fd);
    return std::nullopt;
  }
  DatabaseImage image;
  if (info.st_size == 0) {
    close(fd);
    return image;
  }
  const auto length = static_cast<std::size_t>(info.st_size);
  void* mapped = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapped == MAP_FAILED) {
    const int why = errno;
    close(fd);
    errno = why;
    return std::nullopt;
  }
  unmapHoles(fd, static_cast<std::uint8_t*>(mapped), info.st_size);
  // The descriptor stays open with the mapping, for patched() to map the file again.
  image.file_ = std::make_shared<const Mapping>(mapped, length, fd);
  image.data_ = static_cast<const std::uint8_t*>(mapped);
  image.size_ = static_cast<std::int64_t>(length);
  image.owner_ = image.file_;
  return image;
}

std::uint8_t* DatabaseImage::mapPrivately(std::size_t size) const {
  if (!file_ || size == 0) return nullptr;
  const std::size_t length = roundToPages(size);
  // Zeros first, then the file over its part: pages wholly past the file's end must not be
  // file-backed, as touching them would fault.
  void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  const std::size_t fromFile = std::min(size, static_cast<std::size_t>(size_));
  if (fromFile > 0 && mmap(base, fromFile, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_FIXED,
                           file_->fd, 0) == MAP_FAILED) {
    munmap(base, length);
    return nullptr;
  }
  unmapHoles(file_->fd, static_cast<std::uint8_t*>(base), static_cast<off_t>(fromFile),
             PROT_READ | PROT_WRITE);
  return static_cast<std::uint8_t*>(base);
}

DatabaseImage DatabaseImage::patched(std::int64_t size, const std::vector<Patch>& patches) const {
  if (size <= 0) return DatabaseImage();
  const auto n = static_cast<std::size_t>(size);
  auto apply = [&](std::uint8_t* out) {
    for (const Patch& patch : patches) {
      if (patch.bytes == nullptr || patch.offset < 0 || patch.offset >= size) continue;
      const std::size_t count = std::min(patch.n, static_cast<std::size_t>(size - patch.offset));
      std::memcpy(out + patch.offset, patch.bytes, count);
    }
  };
  if (std::uint8_t* mapped = mapPrivately(n)) {
    apply(mapped);
    const std::size_t length = roundToPages(n);
    mprotect(mapped, length, PROT_READ);
    DatabaseImage image;
    image.data_ = mapped;
    image.size_ = size;
    image.owner_ = std::shared_ptr<const void>(
        mapped, [length](const void* p) { munmap(const_cast<void*>(p), length); });
    return image;
  }
  std::vector<std::uint8_t> bytes(n, 0);
  copy(0, std::min(n, static_cast<std::size_t>(size_)), bytes.data());
  apply(bytes.data());
  return DatabaseImage(std::move(bytes));
}

void DatabaseImage::copy(std::int64_t offset, std::size_t n, std::uint8_t* out) const {
  if (n == 0) return;
  if (offset >= size()) {
    std::memset(out, 0, n);
    return;
  }
  const std::int64_t count = static_cast<std::int64_t>(n);
  const std::int64_t end = offset + count;
  if (offset >= 0 && end <= size()) {
    std::memcpy(out, data_ + offset, n);
    return;
  }
  std::memset(out, 0, n);
  const std::int64_t from = offset < 0 ? 0 : offset;
  const std::int64_t to = end > size() ? size() : end;
  if (from < to) {
    std::memcpy(out + (from - offset), data_ + from, static_cast<std::size_t>(to - from));
  }
}

bool DatabaseImage::matches(std::int64_t offset, const std::uint8_t* pattern, std::size_t n) const {
  if (offset >= 0 && offset <= size() && offset + static_cast<std::int64_t>(n) <= size()) {
    return std::memcmp(data_ + offset, pattern, n) == 0;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (at(offset + static_cast<std::int64_t>(i)) != pattern[i]) return false;
  }
  return true;
}
