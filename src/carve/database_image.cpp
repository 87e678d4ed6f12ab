#include "carve/database_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::optional<DatabaseImage> DatabaseImage::load(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  // Read straight into the image, sized by the file's length; a file that grows meanwhile
  // is read to its end, one that shrinks is cut where the reads end.
  struct stat info {};
  std::vector<std::uint8_t> bytes;
  if (fstat(fd, &info) == 0 && info.st_size > 0)
    bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  bool failed = false;
  std::uint8_t more[1 << 16];
  for (;;) {
    // Into the image while it has room, then into `more` to learn whether the file ended.
    const bool room = filled < bytes.size();
    std::uint8_t* into = room ? bytes.data() + filled : more;
    const std::size_t wanted = room ? bytes.size() - filled : sizeof more;
    const ssize_t got = read(fd, into, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failed = true;
    if (got <= 0) break;
    if (!room) bytes.insert(bytes.end(), more, more + got);
    filled += static_cast<std::size_t>(got);
  }
  close(fd);
  if (failed) return std::nullopt;
  bytes.resize(filled);
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
    std::memcpy(out, bytes_.data() + offset, n);
    return;
  }
  std::memset(out, 0, n);
  const std::int64_t from = offset < 0 ? 0 : offset;
  const std::int64_t to = end > size() ? size() : end;
  if (from < to) {
    std::memcpy(out + (from - offset), bytes_.data() + from, static_cast<std::size_t>(to - from));
  }
}

bool DatabaseImage::matches(std::int64_t offset, const std::uint8_t* pattern, std::size_t n) const {
  if (offset >= 0 && offset <= size() && offset + static_cast<std::int64_t>(n) <= size()) {
    return std::memcmp(bytes_.data() + offset, pattern, n) == 0;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (at(offset + static_cast<std::int64_t>(i)) != pattern[i]) return false;
  }
  return true;
}
