#include "carve/database_image.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "carve/present_memory.h"

namespace {

// Lays anonymous memory over the holes of a sparse file in its mapping. A read of a hole
// through the file mapping fills the page cache with zero pages, so a file that claims
// gigabytes would still cost gigabytes of memory; untouched anonymous memory reads as zero
// from one shared page. Only whole pages inside a hole are replaced.
void unmapHoles(int fd, std::uint8_t* base, off_t length) {
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
      mmap(base + from, static_cast<std::size_t>(to - from), PROT_READ,
           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    }
    data = next;
  }
}

}  // namespace

DatabaseImage::DatabaseImage(std::vector<std::uint8_t> bytes) {
  auto held = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
  data_ = held->data();
  size_ = static_cast<std::int64_t>(held->size());
  owner_ = std::move(held);
}

std::optional<DatabaseImage> DatabaseImage::read(int fd, std::size_t size) {
  DatabaseImage image;
  if (size == 0) return image;
  // A 200 MB database in huge pages is a hundred faults, not fifty thousand, and carving it
  // misses the address cache far less often.
  void* base = carve::mapPresentMemory(size);
  if (base == nullptr) return std::nullopt;
  image.owner_ = std::shared_ptr<const void>(
      base, [size](const void* p) { munmap(const_cast<void*>(p), size); });
  auto* bytes = static_cast<std::uint8_t*>(base);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(fd, bytes + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  mprotect(base, size, PROT_READ);
  image.data_ = bytes;
  image.size_ = static_cast<std::int64_t>(done);
  return image;
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
  const int why = errno;
  if (mapped != MAP_FAILED) unmapHoles(fd, static_cast<std::uint8_t*>(mapped), info.st_size);
  close(fd);  // the mapping keeps the file
  if (mapped == MAP_FAILED) {
    errno = why;
    return std::nullopt;
  }
  image.data_ = static_cast<const std::uint8_t*>(mapped);
  image.size_ = static_cast<std::int64_t>(length);
  image.owner_ = std::shared_ptr<const void>(
      mapped, [length](const void* p) { munmap(const_cast<void*>(p), length); });
  return image;
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
