#include "catalogue/folder_size.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

std::uint64_t regularFilesSize(const std::string& folder) {
  std::uint64_t total = 0;
  // Folders still to read; a list rather than recursion, so depth costs no stack.
  std::vector<fs::path> pending{fs::path(folder)};
  while (!pending.empty()) {
    const fs::path current = std::move(pending.back());
    pending.pop_back();
    std::error_code ec;
    for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
      struct stat st {};
      if (::lstat(it->path().c_str(), &st) != 0) continue;
      if (S_ISREG(st.st_mode)) {
        total += static_cast<std::uint64_t>(st.st_size);
      } else if (S_ISDIR(st.st_mode)) {
        pending.push_back(it->path());
      }
    }
  }
  return total;
}
