#include "extract/database_preparation.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/log.h"
#include "catalogue/stored_file.h"
#include "catalogue/stored_plaintext.h"

namespace fs = std::filesystem;

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes it; the errno value of a failed close, else 0.
  int close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 && ::close(fd) != 0 ? errno : 0;
  }

 private:
  int fd_;
};

constexpr std::size_t kCopyPiece = 1 << 20;

// Copies the bytes of [from, to) of `in` to the same offsets of `out`: in the kernel where
// the file systems allow it, else through `buffer`. 0, ECANCELED when `stop` said so, or the
// errno value of the failure.
int copyRange(int in, int out, off_t from, off_t to, std::unique_ptr<char[]>& buffer,
              const std::function<bool()>& stop) {
  bool kernel = true;
  while (from < to) {
    if (stop && stop()) return ECANCELED;
    const auto want = static_cast<std::size_t>(std::min<off_t>(to - from, kCopyPiece));
    if (kernel) {
      off_t inAt = from, outAt = from;
      const ssize_t got = ::copy_file_range(in, &inAt, out, &outAt, want, 0);
      if (got > 0) {
        from += got;
        continue;
      }
      if (got == 0) return 0;  // the file became shorter meanwhile
      if (errno == EINTR) continue;
      if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
          errno != EPERM && errno != EBADF) {
        return errno;
      }
      kernel = false;
    }
    if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kCopyPiece);
    const ssize_t got = ::pread(in, buffer.get(), want, from);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put =
          ::pwrite(out, buffer.get() + done, static_cast<std::size_t>(got - done), from + done);
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return errno;
      done += put;
    }
    from += got;
  }
  return 0;
}

// Copies the open file `in` into the new file `to`, keeping its holes: only the data
// extents are copied and the length is set at the end, so a sparse file of gigabytes that
// holds a few kilobytes copies as a few kilobytes. 0 or the errno value (ECANCELED when
// stopped).
int copySparse(int in, const std::string& to, const std::function<bool()>& stop) {
  struct stat st {};
  if (::fstat(in, &st) != 0) return errno;
  Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (out.get() < 0) return errno;
  std::unique_ptr<char[]> buffer;
  const off_t size = st.st_size;
  off_t at = 0;
  while (at < size) {
    off_t data = ::lseek(in, at, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // only a hole is left
      data = at;                  // no hole support: copy the rest
    }
    off_t hole = ::lseek(in, data, SEEK_HOLE);
    if (hole < 0 || hole > size) hole = size;
    if (data >= hole) break;
    if (int error = copyRange(in, out.get(), data, hole, buffer, stop); error != 0) return error;
    at = hole;
  }
  if (::ftruncate(out.get(), size) != 0) return errno;
  return out.close();
}

// Writes the plaintext of an encrypted stored file to a new private file `to`.
DecryptResult decryptInto(StoredPlaintext& source, const std::string& to,
                          const std::function<bool()>& stop) {
  DecryptResult result;
  Descriptor out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (out.get() < 0) {
    result.end = DecryptEnd::WriteFailed;
    result.error = errno;
    return result;
  }
  result = source.copyTo(descriptorSink(out.get()), stop);
  if (result.end == DecryptEnd::Done) {
    if (const int e = out.close(); e != 0) {
      result.end = DecryptEnd::WriteFailed;
      result.error = e;
    }
  }
  return result;
}

bool isNoSpace(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

std::uint32_t bigEndian32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// Whether the process `pid` still runs (or cannot be told apart from a running one).
bool processRuns(long pid) {
  if (pid <= 0) return true;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace

DatabasePreparer::DatabasePreparer(std::string backupFolder, ScanProblems* problems,
                                   std::function<bool()> stop)
    : backupFolder_(std::move(backupFolder)), problems_(problems), stop_(std::move(stop)) {}

DatabasePreparer::~DatabasePreparer() {
  if (!workspace_.empty()) {
    std::error_code ec;
    fs::remove_all(workspace_, ec);
  }
}

std::string DatabasePreparer::temporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && tmp[0] ? tmp : "/tmp";
}

int DatabasePreparer::removeStaleWorkspaces(const std::string& parent) {
  DIR* dir = ::opendir(parent.c_str());
  if (dir == nullptr) return 0;
  const std::string prefix = kWorkspacePrefix;
  int removed = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    // retrievo-scan-PID-XXXXXX
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (end == name.c_str() + prefix.size() || *end != '-' || processRuns(pid)) continue;
    struct stat st {};
    const std::string path = parent + "/" + name;
    // Only real folders of this user: never a link, never someone else's.
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
      continue;
    }
    std::error_code ec;
    fs::remove_all(path, ec);
    if (!ec) ++removed;
  }
  ::closedir(dir);
  return removed;
}

void DatabasePreparer::report(const std::string& name, const std::string& reason) {
  report(name, reason, CopyCondition::Unreadable);
}

void DatabasePreparer::report(const std::string& name, const std::string& reason,
                              CopyCondition condition) {
  states_.try_emplace(name, CopyState{condition, reason});
  if (problems_ != nullptr) {
    problems_->report(name, reason);
  } else {
    applog::line(name + ": " + reason);
  }
}

DatabasePreparer::CopyState DatabasePreparer::stateOf(const std::string& name) const {
  const auto it = states_.find(name);
  return it == states_.end() ? CopyState{} : it->second;
}

std::string DatabasePreparer::nameOf(const std::string& storedFile,
                                     const std::string& deviceFile) const {
  if (!deviceFile.empty()) return deviceFile;
  if (!backupFolder_.empty() && storedFile.size() > backupFolder_.size() + 1 &&
      storedFile.compare(0, backupFolder_.size(), backupFolder_) == 0) {
    return storedFile.substr(backupFolder_.size() + 1);
  }
  return storedFile;
}

bool DatabasePreparer::ensureWorkspace() {
  if (!workspace_.empty()) return true;
  if (workspaceFailed_) return false;
  const std::string parent = temporaryFolder();
  removeStaleWorkspaces(parent);
  std::string pattern =
      parent + "/" + kWorkspacePrefix + std::to_string(static_cast<long>(::getpid())) + "-XXXXXX";
  // mkdtemp makes the folder with mode 0700, owned by this user.
  if (!mkdtemp(pattern.data())) {
    const int why = errno;
    applog::line("Cannot create the scan's private folder");
    workspaceFailed_ = true;
    const std::string reason = std::string(
                                   "cannot make a private folder for the database "
                                   "copies in this temporary folder (") +
                               std::strerror(why) + ")";
    if (problems_ != nullptr) problems_->reportEnvironment(parent, reason);
    return false;
  }
  workspace_ = pattern;
  return true;
}

bool DatabasePreparer::copyStored(const std::string& from, const std::string& to,
                                  const std::string& name, bool quietWhenMissing) {
  // A preparer without a backup folder (tests, tools) reads the file from where it is.
  std::string folder = backupFolder_;
  if (folder.empty()) folder = fs::path(from).parent_path().string();
  StoredPlaintext source = StoredPlaintext::open(folder, from);
  if (source.fd() < 0) {
    if (source.opened().refused) {
      report(name, "skipped: not a regular file inside the backup");
    } else if (!(quietWhenMissing && source.opened().error == ENOENT)) {
      report(name, "cannot read the database (" + source.reason() + ")");
    }
    return false;
  }
  if (!source.isOpen()) {
    report(name, "cannot decrypt the database (" + source.reason() + ")");
    return false;
  }
  if (!ensureWorkspace()) return false;
  // The copy of an encrypted backup's database is its plaintext, decrypted on the way.
  int error = 0;
  if (source.encrypted()) {
    const DecryptResult done = decryptInto(source, to, stop_);
    if (done.end == DecryptEnd::BadPadding) {
      std::error_code ec;
      fs::remove(to, ec);
      report(name, "cannot decrypt the database (" + describeDecryptEnd(done) + ")");
      return false;
    }
    error = done.end == DecryptEnd::Done      ? 0
            : done.end == DecryptEnd::Stopped ? ECANCELED
                                              : (done.error != 0 ? done.error : EIO);
  } else {
    error = copySparse(source.fd(), to, stop_);
  }
  if (error == 0) return true;
  std::error_code ec;
  fs::remove(to, ec);
  if (error == ECANCELED) return false;
  if (isNoSpace(error) && problems_ != nullptr) {
    problems_->reportEnvironment(name, "no space left for its copy in " + temporaryFolder() + " (" +
                                           std::strerror(error) + ")");
  } else {
    report(name, "cannot copy the database (" + std::string(std::strerror(error)) + ")");
  }
  return false;
}

void DatabasePreparer::checkCopy(const std::string& copy, const std::string& name) {
  Descriptor fd(::open(copy.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  unsigned char header[100] = {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) return;
  const ssize_t got = ::pread(fd.get(), header, sizeof header, 0);
  if (st.st_size == 0) {
    report(name, "cannot read the database (the file is empty)");
    return;
  }
  if (got != static_cast<ssize_t>(sizeof header) ||
      std::memcmp(header, "SQLite format 3", 16) != 0) {
    report(name, "cannot read the database (not a SQLite database)");
    return;
  }
  // The page count in the header is valid when its version number matches the change
  // counter; a file shorter than it says has lost its last pages.
  std::uint64_t pageSize = (std::uint64_t{header[16]} << 8) | header[17];
  if (pageSize == 1) pageSize = 65536;
  const std::uint32_t pages = bigEndian32(header + 28);
  if (pages != 0 && bigEndian32(header + 92) == bigEndian32(header + 24)) {
    const std::uint64_t claimed = pageSize * pages;
    if (claimed > static_cast<std::uint64_t>(st.st_size)) {
      report(name,
             "the database is cut short (" + std::to_string(st.st_size) + " of " +
                 std::to_string(claimed) + " bytes)",
             CopyCondition::CutShort);
      return;
    }
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  if (rc == SQLITE_OK) {
    rc = sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, &stmt, nullptr);
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  if (rc != SQLITE_ROW) {
    report(name, std::string("cannot read the database (") +
                     (db != nullptr ? sqlite3_errmsg(db) : "cannot open it") + ")");
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

std::optional<std::string> DatabasePreparer::copyWithLog(const std::string& storedFile,
                                                         const std::string& walKey,
                                                         const std::string& deviceFile) {
  const std::string name = nameOf(storedFile, deviceFile);
  lastDatabase_ = name;
  if (auto it = copies_.find(storedFile); it != copies_.end()) return it->second;
  std::error_code ec;
  if (!fs::exists(fs::symlink_status(storedFile, ec))) return std::nullopt;  // nothing to copy
  if (!ensureWorkspace()) return std::nullopt;
  const std::string target = workspace_ + "/db" + std::to_string(nextId_++) + ".sqlite";
  if (!copyStored(storedFile, target, name, false)) return std::nullopt;

  std::string log = walKey.empty() ? std::string() : storedFilePath(backupFolder_, walKey);
  if (log.empty() || !fs::exists(fs::symlink_status(log, ec))) log = storedFile + "-wal";
  if (copyStored(log, target + "-wal", name + "-wal", true)) {
    if (fs::exists(fs::symlink_status(storedFile + "-shm", ec))) {
      copyStored(storedFile + "-shm", target + "-shm", name + "-shm", true);
    }
  }
  checkCopy(target, name);
  copies_[storedFile] = target;
  return target;
}

std::optional<std::string> DatabasePreparer::commitDB(const std::string& storedFile,
                                                      const std::string& walKey,
                                                      const std::string& deviceFile) {
  auto copy = copyWithLog(storedFile, walKey, deviceFile);
  if (!copy) return std::nullopt;
  if (committed_[*copy]) return copy;
  committed_[*copy] = true;

  sqlite3* db = nullptr;
  if (sqlite3_open_v2(copy->c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return copy;
  }
  if (sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return copy;
  }
  if (sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) !=
      SQLITE_OK) {
    std::printf("Failed to commit\n");
    std::fflush(stdout);
  }
  sqlite3_close(db);
  return copy;
}

std::optional<std::string> DatabasePreparer::readOnlyCopy(const std::string& storedFile,
                                                          const std::string& walKey,
                                                          const std::string& deviceFile) {
  return copyWithLog(storedFile, walKey, deviceFile);
}

std::optional<std::string> DatabasePreparer::preparedCopy(const std::string& storedFile) const {
  auto it = copies_.find(storedFile);
  if (it == copies_.end()) return std::nullopt;
  return it->second;
}
