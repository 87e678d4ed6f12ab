// What the benchmarks measure against: a plain sequential read of a file, and seconds of a
// steady-clock duration.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace bench {

inline double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Reads `path` start to end in 1 MiB blocks; returns the seconds taken and sets `bytes`.
inline double sequentialRead(const std::string& path, std::size_t* bytes) {
  std::vector<char> block(1 << 20);
  const auto t0 = std::chrono::steady_clock::now();
  const int fd = open(path.c_str(), O_RDONLY);
  std::size_t total = 0;
  unsigned sum = 0;  // touches every block so the reads cannot be left out
  for (ssize_t n; fd >= 0 && (n = read(fd, block.data(), block.size())) > 0;) {
    total += static_cast<std::size_t>(n);
    sum += static_cast<unsigned char>(block[0]);
  }
  if (fd >= 0) close(fd);
  const double s = seconds(std::chrono::steady_clock::now() - t0);
  *bytes = total + (sum & 0);
  return s;
}

}  // namespace bench
