// The plaintext of a stored file, whether the backup is encrypted or not.
//
// Every reader that needs a stored file's bytes opens it here: a file of a plain backup is
// read as it is; a file of an encrypted backup that was unlocked (see unlocked_backup.h) is
// decrypted with its own key on the way. The stored file itself is opened by openStoredFile's
// rules, and nothing is ever written into the backup folder.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/backup_cipher.h"
#include "catalogue/stored_file.h"

class StoredPlaintext {
 public:
  // Opens the stored file at `path` in `backupFolder` (openStoredFile's rules; with an empty
  // `backupFolder`, the plain file at `path`).
  static StoredPlaintext open(const std::string& backupFolder, const std::string& path);
  StoredPlaintext() = default;
  ~StoredPlaintext();
  StoredPlaintext(StoredPlaintext&& other) noexcept;
  StoredPlaintext& operator=(StoredPlaintext&& other) noexcept;
  StoredPlaintext(const StoredPlaintext&) = delete;
  StoredPlaintext& operator=(const StoredPlaintext&) = delete;

  bool isOpen() const { return fd_ >= 0 && problem_.empty(); }
  bool encrypted() const { return key_.has_value(); }
  // The open descriptor of the stored bytes (enciphered when encrypted()); -1 when not open.
  int fd() const { return fd_; }
  const OpenedStoredFile& opened() const { return opened_; }
  // Gives up the descriptor to the caller, who closes it.
  int release();
  // Why the file cannot be read ("" when it can): the open's reason, or why its key is
  // missing.
  std::string reason() const;

  // The size of the plaintext; none when it cannot be told (reading fails, wrong padding).
  std::optional<std::uint64_t> size() const;
  // Gives the whole plaintext, from the start, to `sink`.
  DecryptResult copyTo(const PlaintextSink& sink, const std::function<bool()>& stop = {});
  // The first `max` bytes of the plaintext (all of a shorter file), or none when reading or
  // decrypting fails.
  std::optional<std::vector<std::uint8_t>> readPrefix(std::size_t max);

 private:
  friend std::optional<std::string> plaintextPath(const std::string&, const std::string&,
                                                  std::string*);
  void close();

  OpenedStoredFile opened_;
  int fd_ = -1;
  std::optional<AesKey> key_;
  std::string problem_;
};

// The path of a file holding the plaintext of the stored file at `path`: `path` itself in a
// plain backup, else a decrypted copy in the unlocked backup's private folder, made on the
// first call and reused. None with the reason in `error` when it cannot be made.
std::optional<std::string> plaintextPath(const std::string& backupFolder, const std::string& path,
                                         std::string* error = nullptr);

// The plaintext size of the stored file at `storedPath` (a full path, as the file index holds
// it) whose stored bytes number `storedSize`: `storedSize` itself unless the file belongs to an
// unlocked encrypted backup, whose files are padded; then the size the backup records or the
// file's last block tells, else `storedSize`.
std::uint64_t plaintextSizeOfStored(const std::string& storedPath, std::uint64_t storedSize);
