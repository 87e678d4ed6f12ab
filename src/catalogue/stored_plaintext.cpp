#include "catalogue/stored_plaintext.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "catalogue/unlocked_backup.h"

namespace {

constexpr std::size_t kPiece = 1 << 20;

// Reads up to `size` bytes from the start of `fd`; the count read (less at the end of the
// file), or none when reading fails.
std::optional<std::size_t> readFrom(int fd, std::uint8_t* into, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, into + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

}  // namespace

StoredPlaintext StoredPlaintext::open(const std::string& backupFolder, const std::string& path) {
  StoredPlaintext file;
  file.opened_ = backupFolder.empty() ? openRegularFileAt(AT_FDCWD, path.c_str())
                                      : openStoredFile(backupFolder, path);
  file.fd_ = file.opened_.fd;
  if (file.fd_ < 0 || backupFolder.empty()) return file;
  const std::shared_ptr<UnlockedBackup> unlocked = unlockedBackupFor(backupFolder);
  if (!unlocked) return file;
  const std::string fileID = storedFileID(path);
  if (fileID.empty()) {
    file.problem_ = "not a file of the encrypted backup's manifest";
    return file;
  }
  std::string why;
  file.key_ = unlocked->fileKey(fileID, &why);
  if (!file.key_) file.problem_ = why;
  return file;
}

StoredPlaintext::~StoredPlaintext() { close(); }

StoredPlaintext::StoredPlaintext(StoredPlaintext&& other) noexcept { *this = std::move(other); }

StoredPlaintext& StoredPlaintext::operator=(StoredPlaintext&& other) noexcept {
  if (this != &other) {
    close();
    opened_ = other.opened_;
    fd_ = other.fd_;
    key_ = other.key_;
    problem_ = std::move(other.problem_);
    other.fd_ = -1;
    other.opened_.fd = -1;
    other.key_.reset();
  }
  return *this;
}

void StoredPlaintext::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  opened_.fd = -1;
  if (key_) OPENSSL_cleanse(key_->data(), key_->size());
  key_.reset();
}

int StoredPlaintext::release() {
  const int fd = fd_;
  fd_ = -1;
  opened_.fd = -1;
  return fd;
}

std::string StoredPlaintext::reason() const {
  if (fd_ < 0) return opened_.reason();
  return problem_;
}

std::optional<std::uint64_t> StoredPlaintext::size() const {
  if (!isOpen()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return std::nullopt;
  const auto stored = static_cast<std::uint64_t>(st.st_size);
  if (!key_) return stored;
  return plaintextSize(fd_, stored, *key_);
}

DecryptResult StoredPlaintext::copyTo(const PlaintextSink& sink,
                                      const std::function<bool()>& stop) {
  DecryptResult result;
  if (!isOpen()) {
    result.end = DecryptEnd::ReadFailed;
    result.error = opened_.error ? opened_.error : EBADF;
    return result;
  }
  if (::lseek(fd_, 0, SEEK_SET) < 0) {
    result.end = DecryptEnd::ReadFailed;
    result.error = errno;
    return result;
  }
  if (key_) return decryptStream(fd_, *key_, sink, stop);
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kPiece]);
  for (;;) {
    if (stop && stop()) {
      result.end = DecryptEnd::Stopped;
      return result;
    }
    const ssize_t got = ::read(fd_, buffer.get(), kPiece);
    if (got < 0) {
      if (errno == EINTR) continue;
      result.end = DecryptEnd::ReadFailed;
      result.error = errno;
      return result;
    }
    if (got == 0) return result;
    if (const int e = sink(buffer.get(), static_cast<std::size_t>(got)); e != 0) {
      result.end = DecryptEnd::WriteFailed;
      result.error = e;
      return result;
    }
    result.written += static_cast<std::uint64_t>(got);
  }
}

std::optional<std::vector<std::uint8_t>> StoredPlaintext::readPrefix(std::size_t max) {
  if (!isOpen()) return std::nullopt;
  std::vector<std::uint8_t> out;
  if (!key_) {
    out.resize(max);
    const auto done = readFrom(fd_, out.data(), max);
    if (!done) return std::nullopt;
    out.resize(*done);
    return out;
  }
  // Enough whole blocks to cover `max` plus the one the padding may sit in; the rest of a
  // longer file is not read, since a prefix needs no padding check.
  const std::size_t want = (max / 16 + 2) * 16;
  std::vector<std::uint8_t> stored(want);
  const auto read = readFrom(fd_, stored.data(), want);
  if (!read) return std::nullopt;
  const std::size_t got = *read;
  CbcStreamDecryptor cipher(*key_);
  out.resize(got + 16);
  const std::ptrdiff_t n = cipher.update({stored.data(), got}, out.data());
  if (n < 0) return std::nullopt;
  std::size_t size = static_cast<std::size_t>(n);
  if (got < want) {  // the whole file was read: end it by its padding
    const std::ptrdiff_t last = cipher.finish(out.data() + size);
    if (last < 0) return std::nullopt;
    size += static_cast<std::size_t>(last);
  }
  out.resize(std::min(size, max));
  return out;
}

std::optional<std::string> plaintextPath(const std::string& backupFolder, const std::string& path,
                                         std::string* error) {
  const std::shared_ptr<UnlockedBackup> unlocked =
      backupFolder.empty() ? nullptr : unlockedBackupFor(backupFolder);
  if (!unlocked) return path;
  const std::string fileID = storedFileID(path);
  if (fileID.empty()) {
    if (error) *error = "not a file of the encrypted backup's manifest";
    return std::nullopt;
  }
  return unlocked->decryptedCopy(
      fileID,
      [&](const std::string& target, std::string* why) {
        StoredPlaintext stored = StoredPlaintext::open(backupFolder, path);
        if (!stored.isOpen()) {
          if (why) *why = stored.reason();
          return false;
        }
        const int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0) {
          if (why) *why = std::string("cannot write its plaintext (") + std::strerror(errno) + ")";
          return false;
        }
        const DecryptResult done = decryptToDescriptor(stored.fd(), *stored.key_, out);
        const bool closed = ::close(out) == 0;
        if (done.end != DecryptEnd::Done || !closed) {
          if (why) *why = closed ? describeDecryptEnd(done) : "cannot write its plaintext";
          return false;
        }
        return true;
      },
      error);
}

std::uint64_t plaintextSizeOfStored(const std::string& storedPath, std::uint64_t storedSize) {
  const std::shared_ptr<UnlockedBackup> unlocked = unlockedBackupHolding(storedPath);
  if (!unlocked) return storedSize;
  const std::string fileID = storedFileID(storedPath);
  if (fileID.empty()) return storedSize;
  return unlocked->plaintextSize(fileID, storedPath, storedSize).value_or(storedSize);
}
