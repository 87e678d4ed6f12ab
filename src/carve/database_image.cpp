#include "carve/database_image.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

std::optional<DatabaseImage> DatabaseImage::load(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  std::error_code ec;
  const auto expected = std::filesystem::file_size(path, ec);
  if (!ec) bytes.reserve(static_cast<std::size_t>(expected));
  std::uint8_t chunk[1 << 16];
  bool failed = false;
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk) {
      failed = std::ferror(file) != 0;
      break;
    }
  }
  std::fclose(file);
  if (failed) return std::nullopt;
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
