// What the benchmarks measure against: a plain sequential read of a file, and seconds of a
// steady-clock duration.
//
// Two reads are offered. The warm read finds the file in the page cache, so it costs what a
// kernel-to-user copy costs (10 GB/s and more here). The cold read first asks the kernel to
// drop the file's cached pages (posix_fadvise DONTNEED after an fdatasync, which needs no
// privileges) and so reads from the storage device, as a scan of a backup that has just been
// copied or plugged in does. Some kernels keep the pages anyway; where the benchmark may
// write /proc/sys/vm/drop_caches (run as root) it also drops the clean cached pages of every
// file there. Benchmarks print both reads; when the pages stay cached all the same the two
// figures come out alike, which the output then shows.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

inline double seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Drops the file's pages from the page cache (best effort).
inline void dropCachedPages(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  fdatasync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  close(fd);
  if (std::FILE* caches = std::fopen("/proc/sys/vm/drop_caches", "w")) {
    std::fputs("1", caches);
    std::fclose(caches);
  }
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

// The same read with the file's pages dropped from the page cache first; the read itself
// brings them back, so later measurements find the file cached again.
inline double coldSequentialRead(const std::string& path, std::size_t* bytes) {
  dropCachedPages(path);
  return sequentialRead(path, bytes);
}

// Best of `runs` timings of `read`.
template <typename Read>
double bestOf(int runs, Read read, const std::string& path, std::size_t* bytes) {
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    const double s = read(path, bytes);
    if (s < best) best = s;
  }
  return best;
}

// Prints a carver's figures against the two reads (all in seconds, `mb` the file's size in
// MB) and returns carver / cold read, the figure the target (within 3x) is judged by.
inline double printCarverFigures(double mb, double carver, double loading, double warm,
                                 double cold) {
  std::printf("  carver (in memory):  %8.4f s = %7.0f MB/s\n", carver, mb / carver);
  std::printf("  loading into memory: %8.4f s\n", loading);
  std::printf("  warm read:           %8.4f s = %7.0f MB/s\n", warm, mb / warm);
  std::printf("  cold read:           %8.4f s = %7.0f MB/s\n", cold, mb / cold);
  std::printf("  carver / warm read:  %8.2f\n", carver / warm);
  std::printf("  carver / cold read:  %8.2f (target <= 3, judged against the cold read)\n",
              carver / cold);
  std::fflush(stdout);
  return carver / cold;
}

// A text for a dump of carved records: bytes below 0x20, 0x7F and the backslash as \xNN,
// the rest as they are, so that one record stays one line.
inline std::string escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '\\') {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02x", c);
      out += code;
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace bench
