#include "results/output_folder.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr mode_t kFolderMode = 0755;
// Attempts at a free temporary name before giving up (each clash is a one in 2^64 event
// unless someone plants names on purpose).
constexpr int kProbeAttempts = 16;

// Why `name` in the folder `dirFd` could not be opened as a folder after `error`: a link
// or a file in the way is named as such, anything else by its errno text.
std::string folderProblem(int dirFd, const char* name, int error, const std::string& shown) {
  struct stat st {};
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return "not a folder: " + shown + " is a symbolic link";
    if (!S_ISDIR(st.st_mode)) return "not a folder: " + shown + " is a file";
  }
  return "cannot open the folder " + shown + ": " + std::strerror(error);
}

std::string joined(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "/" + b;
}

}  // namespace

OutputDir::OutputDir(int fd, std::string path, std::string relative)
    : fd_(fd), path_(std::move(path)), relative_(std::move(relative)) {}

OutputDir::~OutputDir() {
  if (fd_ >= 0) ::close(fd_);
}

OutputDir::OutputDir(OutputDir&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      relative_(std::move(other.relative_)) {}

OutputDir& OutputDir::operator=(OutputDir&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    relative_ = std::move(other.relative_);
  }
  return *this;
}

std::optional<OutputDir> OutputDir::openRoot(const std::string& path, bool create,
                                             std::string* problem) {
  if (create) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
  }
  const int fd = ::open(path.c_str(), kFolderFlags);
  if (fd >= 0) return OutputDir(fd, path, "");
  const int error = errno;
  struct stat st {};
  if (problem != nullptr) {
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      *problem = "it is a symbolic link";
    } else if (error == ENOTDIR) {
      *problem = "it is not a folder";
    } else {
      *problem = std::strerror(error);
    }
  }
  return std::nullopt;
}

std::optional<OutputDir> OutputDir::openFolder(std::string_view relative,
                                               std::string* problem) const {
  int current = fd_;
  int owned = -1;     // the descriptor opened last, closed when the next one is open
  std::string below;  // the components passed so far
  std::size_t start = 0;
  while (start < relative.size()) {
    std::size_t slash = relative.find('/', start);
    if (slash == std::string_view::npos) slash = relative.size();
    const std::string part(relative.substr(start, slash - start));
    start = slash + 1;
    if (part.empty()) continue;
    below += (below.empty() ? "" : "/") + part;
    int next = ::openat(current, part.c_str(), kFolderFlags);
    if (next < 0 && errno == ENOENT) {
      if (::mkdirat(current, part.c_str(), kFolderMode) == 0 || errno == EEXIST) {
        next = ::openat(current, part.c_str(), kFolderFlags);
      }
    }
    if (next < 0) {
      const int error = errno;
      if (problem != nullptr) {
        *problem = folderProblem(current, part.c_str(), error, joined(relative_, below));
      }
      if (owned >= 0) ::close(owned);
      return std::nullopt;
    }
    if (owned >= 0) ::close(owned);
    current = owned = next;
  }
  if (owned < 0) {
    // Nothing below: the same folder through a descriptor of its own.
    owned = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (owned < 0) {
      if (problem != nullptr) *problem = std::strerror(errno);
      return std::nullopt;
    }
  }
  return OutputDir(owned, joined(path_, below), joined(relative_, below));
}

int OutputDir::probeWritable() const {
  for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
    const std::string name = temporaryEntryName();
    if (::mkdirat(fd_, name.c_str(), 0700) == 0) {
      ::unlinkat(fd_, name.c_str(), AT_REMOVEDIR);
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

std::string temporaryEntryName() {
  static std::atomic<std::uint64_t> counter{0};
  std::uint64_t random = 0;
  if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    random = static_cast<std::uint64_t>(::getpid()) << 32;
  }
  char name[64];
  std::snprintf(name, sizeof name, ".retrievo-%016llx-%llu",
                static_cast<unsigned long long>(random),
                static_cast<unsigned long long>(counter.fetch_add(1)));
  return name;
}
