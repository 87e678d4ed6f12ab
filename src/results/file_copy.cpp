#include "results/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "results/output_names.h"

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor() { reset(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Closes the descriptor; returns the errno value of a failed close, else 0.
  int reset() {
    int error = 0;
    if (fd_ >= 0 && ::close(fd_) != 0) error = errno;
    fd_ = -1;
    return error;
  }

 private:
  int fd_;
};

// Reads up to `size` bytes, retrying short reads until the size or the end of the file.
// Returns the bytes read, or -1 with errno set.
ssize_t readFully(int fd, char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// Writes all `size` bytes. 0 on success, else the errno value.
int writeFully(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

constexpr int kNewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
constexpr mode_t kNewFileMode = 0644;

}  // namespace

std::string copyProblem(const CopyResult& result, std::uint64_t expected) {
  const std::string reason =
      result.error != 0 ? std::string(": ") + std::strerror(result.error) : std::string();
  switch (result.status) {
    case CopyStatus::Complete:
      return "";
    case CopyStatus::SourceShort:
      return "source ended after " + std::to_string(result.written) + " of " +
             std::to_string(expected) + " bytes";
    case CopyStatus::SourceUnreadable:
      return "source cannot be read" + reason;
    case CopyStatus::SourceRefused:
      return "skipped: not a regular file inside the backup";
    case CopyStatus::DecryptFailed:
      return "source does not decrypt";
    case CopyStatus::ReadFailed:
      return "read failed after " + std::to_string(result.written) + " bytes" + reason;
    case CopyStatus::TargetFailed:
      return "cannot create the file" + reason;
    case CopyStatus::WriteFailed:
      return "write failed after " + std::to_string(result.written) + " bytes" + reason;
  }
  return "";
}

namespace {

// Closes the target and removes it when it cannot stand for the source.
CopyResult finishTarget(CopyResult result, FileDescriptor& out, const OutputDir& folder,
                        const std::string& placed) {
  if (int cerr = out.reset(); cerr != 0 && result.complete()) {
    result.status = CopyStatus::WriteFailed;
    result.error = cerr;
  }
  // A copy cut short by the target's side (a full disk) would pass for a whole file, and the
  // plaintext of a file that does not decrypt is no file of the device.
  if (result.status == CopyStatus::WriteFailed || result.status == CopyStatus::DecryptFailed) {
    ::unlinkat(folder.fd(), placed.c_str(), 0);
    result.target.clear();
  }
  return result;
}

}  // namespace

OpenedStoredFile openRecoverySource(const std::string& backupFolder, const std::string& path) {
  if (!backupFolder.empty()) return openStoredFile(backupFolder, path);
  return openRegularFileAt(AT_FDCWD, path.c_str());
}

CopyResult ChunkedCopier::copyFile(const std::string& source, std::uint64_t expected,
                                   const OutputDir& folder, const std::string& name,
                                   std::size_t index) {
  return copyFileFrom(sourceFolder_, source, expected, folder, name, index);
}

CopyResult ChunkedCopier::copyFileFrom(const std::string& sourceFolder, const std::string& source,
                                       std::uint64_t expected, const OutputDir& folder,
                                       const std::string& name, std::size_t index) {
  CopyResult result;
  StoredPlaintext stored = StoredPlaintext::open(sourceFolder, source);
  const OpenedStoredFile opened = stored.opened();
  if (stored.fd() >= 0 && !stored.isOpen()) {
    result.status = CopyStatus::DecryptFailed;
    return result;
  }
  const bool decrypt = stored.encrypted();
  FileDescriptor in(decrypt ? -1 : stored.release());
  if (!decrypt && !in.valid()) {
    result.status = opened.refused ? CopyStatus::SourceRefused : CopyStatus::SourceUnreadable;
    result.error = opened.refused ? 0 : opened.error;
    return result;
  }
  int outFd = -1;
  int error = 0;
  auto placed = placeUniqueName(
      name, index,
      [&](const std::string& candidate) {
        outFd = ::openat(folder.fd(), candidate.c_str(), kNewFileFlags, kNewFileMode);
        return outFd < 0 ? errno : 0;
      },
      &error);
  FileDescriptor out(outFd);
  if (!placed) {
    result.status = CopyStatus::TargetFailed;
    result.error = error;
    return result;
  }
  result.target = folder.path() + "/" + *placed;
  if (decrypt) {
    // An encrypted file is decrypted straight into the target; it ends where its padding
    // says, whatever size the scan recorded.
    const DecryptResult done = stored.copyTo(descriptorSink(out.get()));
    result.written = done.written;
    result.error = done.error;
    switch (done.end) {
      case DecryptEnd::Done:
      case DecryptEnd::Stopped:
        break;
      case DecryptEnd::ReadFailed:
        result.status = CopyStatus::ReadFailed;
        break;
      case DecryptEnd::WriteFailed:
        result.status = CopyStatus::WriteFailed;
        break;
      case DecryptEnd::BadPadding:
        result.status = CopyStatus::DecryptFailed;
        break;
    }
    return finishTarget(result, out, folder, *placed);
  }
  ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  std::uint64_t remaining = expected;
  // The kernel copies between the files without passing the bytes through this process
  // where it can; it reports what it copied, so a short source shows as it does below.
  bool kernelCopy = true;
  while (remaining > 0 && kernelCopy) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkSize));
    ssize_t got = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, want, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      // Not supported between these files (before anything was copied): read and write.
      if (result.written == 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                                  errno == EOPNOTSUPP || errno == EBADF || errno == EPERM)) {
        kernelCopy = false;
        break;
      }
      const bool full = errno == ENOSPC || errno == EDQUOT || errno == EFBIG;
      result.status = full ? CopyStatus::WriteFailed : CopyStatus::ReadFailed;
      result.error = errno;
      remaining = 0;
      break;
    }
    if (got == 0) {
      // The end of the source, or a file system that copies nothing this way: the reads
      // below, from the same offsets, tell which.
      kernelCopy = false;
      break;
    }
    result.written += static_cast<std::uint64_t>(got);
    remaining -= static_cast<std::uint64_t>(got);
  }

  if (remaining > 0 && !buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(kChunkSize);
  while (remaining > 0) {
    const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkSize));
    ssize_t got = readFully(in.get(), buffer_.get(), want);
    if (got < 0) {
      result.status = CopyStatus::ReadFailed;
      result.error = errno;
      break;
    }
    if (int werr = writeFully(out.get(), buffer_.get(), static_cast<std::size_t>(got)); werr != 0) {
      result.status = CopyStatus::WriteFailed;
      result.error = werr;
      break;
    }
    result.written += static_cast<std::uint64_t>(got);
    remaining -= static_cast<std::uint64_t>(got);
    if (static_cast<std::size_t>(got) < want) {
      result.status = CopyStatus::SourceShort;
      break;
    }
  }
  return finishTarget(result, out, folder, *placed);
}

namespace {

// Writes `bytes` into a new temporary file in `dirFd`; its name is returned in `*temp`.
// Nothing is left behind when the write fails.
int writeTemporary(int dirFd, std::string_view bytes, std::string* temp) {
  std::string name;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    name = temporaryEntryName();
    fd = ::openat(dirFd, name.c_str(), kNewFileFlags, kNewFileMode);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;
  FileDescriptor file(fd);
  int error = writeFully(file.get(), bytes.data(), bytes.size());
  if (int cerr = file.reset(); error == 0) error = cerr;
  if (error != 0) {
    ::unlinkat(dirFd, name.c_str(), 0);
    return error;
  }
  *temp = name;
  return 0;
}

// Renames `from` to `to` in `dirFd` unless `to` exists. 0 on success, else the errno value
// (EEXIST when `to` exists).
int renameWithoutReplacing(int dirFd, const std::string& from, const std::string& to) {
  if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without the no-replace rename: a hard link fails the same way on a taken
  // name, and the temporary name is removed afterwards.
  if (::linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) != 0) return errno;
  ::unlinkat(dirFd, from.c_str(), 0);
  return 0;
}

}  // namespace

bool writeFileAtomicallyWith(
    const std::string& path,
    const std::function<bool(const std::function<bool(std::string_view)>& write)>& produce,
    std::string* error, int* errorNumber) {
  int number = 0;
  auto fail = [error, errorNumber, &number](const std::string& why) {
    if (error != nullptr) *error = why;
    if (errorNumber != nullptr) *errorNumber = number != 0 ? number : EIO;
    return false;
  };
  const std::filesystem::path target(path);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // A hidden name beside the target; built by appending (g++ 12 warns falsely on "." + s).
  std::string hidden(1, '.');
  hidden += target.filename().string();
  hidden += ".XXXXXX";
  std::string pattern = (folder / hidden).string();
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);  // mode 0600, a new file
  if (fd < 0) {
    number = errno;
    return fail("cannot create a file in " + folder.string() + ": " + std::strerror(number));
  }
  int writeError = 0;
  off_t written = 0;
  const bool produced = produce([fd, &writeError, &written](std::string_view text) {
    if (writeError == 0) writeError = writeFully(fd, text.data(), text.size());
    if (writeError != 0) return false;
    // The disk starts on each piece at once, so that the fsync below waits only for the last
    // ones; without this a large file handed over in pieces is written out only then.
    ::sync_file_range(fd, written, static_cast<off_t>(text.size()), SYNC_FILE_RANGE_WRITE);
    written += static_cast<off_t>(text.size());
    return true;
  });
  if (produced && writeError == 0 && ::fsync(fd) != 0) writeError = errno;
  if (::close(fd) != 0 && writeError == 0) writeError = errno;
  if (!produced || writeError != 0) {
    ::unlink(pattern.c_str());
    number = writeError;
    if (writeError != 0) return fail("cannot write " + path + ": " + std::strerror(writeError));
    return fail("the text of " + path + " could not be made");
  }
  if (::rename(pattern.c_str(), path.c_str()) != 0) {
    number = errno;
    ::unlink(pattern.c_str());
    return fail("cannot write " + path + ": " + std::strerror(number));
  }
  return true;
}

bool writeFileAtomically(const std::string& path, std::string_view text, std::string* error,
                         int* errorNumber) {
  return writeFileAtomicallyWith(
      path, [text](const std::function<bool(std::string_view)>& write) { return write(text); },
      error, errorNumber);
}

std::optional<std::string> writeNewFileAtomically(const OutputDir& folder, const std::string& name,
                                                  std::size_t index, std::string_view bytes,
                                                  int* error) {
  std::string temp;
  if (int werr = writeTemporary(folder.fd(), bytes, &temp); werr != 0) {
    if (error != nullptr) *error = werr;
    return std::nullopt;
  }
  auto placed = placeUniqueName(
      name, index,
      [&](const std::string& candidate) {
        return renameWithoutReplacing(folder.fd(), temp, candidate);
      },
      error);
  if (!placed) {
    ::unlinkat(folder.fd(), temp.c_str(), 0);
    return std::nullopt;
  }
  return folder.path() + "/" + *placed;
}
