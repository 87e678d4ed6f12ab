// An encrypted backup opened with its password: the class keys, the decrypted manifest and
// the key of every stored file.
//
// unlock() reads Manifest.plist ("BackupKeyBag", and "ManifestKey" on backups with a
// Manifest.db), derives the password key once, unwraps the class keys and, for a Manifest.db
// backup, decrypts Manifest.db into a private folder (mode 0700, under TMPDIR, removed when the
// object goes). A wrong password writes nothing. The password key itself is wiped as soon as
// the class keys are out; the class keys are wiped when the object goes.
//
// The unlocked backups of the process are kept by folder, so every reader of a stored file
// (the scan, recovery, previews) finds the keys through the folder it was given, and a
// backup unlocked for a scan serves the recovery of the same run without a second derivation.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/sqlite_reader.h"
#include "catalogue/backup_keybag.h"

enum class UnlockStatus {
  Unlocked,
  NotEncrypted,    // Manifest.plist does not say "IsEncrypted"
  WrongPassword,   // no class key unwraps with the key of the password
  Unreadable,      // the key bag, the manifest key or the manifest is missing or damaged
  NoPrivateFolder  // the private folder for the decrypted manifest cannot be made or written
};

class UnlockedBackup;

struct UnlockResult {
  UnlockStatus status = UnlockStatus::Unreadable;
  std::string reason;  // a few English words for anything but Unlocked; never the password
  std::shared_ptr<UnlockedBackup> backup;
};

class UnlockedBackup {
 public:
  // Opens the encrypted backup in `folder` with `password`. `deriving`, when given, is called
  // just before the password key is derived, which takes seconds on current backups.
  static UnlockResult unlock(const std::string& folder, std::string_view password,
                             const std::function<void()>& deriving = {});
  ~UnlockedBackup();
  UnlockedBackup(const UnlockedBackup&) = delete;
  UnlockedBackup& operator=(const UnlockedBackup&) = delete;

  const std::string& folder() const { return folder_; }
  // The decrypted Manifest.db, or "" for a Manifest.mbdb backup.
  const std::string& manifestDbPath() const { return manifestDb_; }
  // The private folder of this backup's decrypted files, "" until one was needed.
  const std::string& privateFolder() const { return privateFolder_; }

  // The key of the stored file named `fileID` (its 40 hexadecimal digits), or none with the
  // reason in `error` (not in the manifest, no key recorded, the key does not unwrap).
  std::optional<AesKey> fileKey(const std::string& fileID, std::string* error = nullptr) const;

  // The plaintext size of the stored file `fileID`, whose stored bytes at `storedPath` number
  // `storedSize`: the "Size" its Manifest.db record holds, else (Manifest.mbdb, whose recorded
  // sizes can be stale) the size its last block tells. None when neither tells.
  std::optional<std::uint64_t> plaintextSize(const std::string& fileID,
                                             const std::string& storedPath,
                                             std::uint64_t storedSize) const;

  // The path of the decrypted copy of the stored file `fileID` in the private folder: made by
  // `make` (which writes the plaintext to the path it is given) on the first call, then reused.
  // None with the reason in `error` when the folder or the copy cannot be made.
  using CopyMaker = std::function<bool(const std::string& target, std::string* error)>;
  std::optional<std::string> decryptedCopy(const std::string& fileID, const CopyMaker& make,
                                           std::string* error = nullptr);

 private:
  UnlockedBackup() = default;
  bool makePrivateFolder(std::string* error);
  std::optional<std::vector<std::uint8_t>> recordedKey(const std::string& fileID,
                                                       std::string* error) const;

  std::string folder_;
  std::map<std::uint32_t, AesKey> classKeys_;
  std::string privateFolder_;
  std::string manifestDb_;  // decrypted copy, or the backup's own when it is not encrypted
  bool manifestIsMbdb_ = false;
  std::unordered_map<std::string, std::vector<std::uint8_t>> mbdbKeys_;
  std::mutex copiesMutex_;
  std::map<std::string, std::string> copies_;  // fileID -> decrypted copy
  mutable std::mutex lookupMutex_;
  mutable bool sizesRead_ = false;
  mutable std::unordered_map<std::string, std::uint64_t> recordedSizes_;  // Manifest.db "Size" 
  mutable SqliteDatabase manifest_;
  mutable SqliteStatement lookup_;
};

// The process's unlocked backups, by folder (the folder's text with trailing slashes and "."
// steps removed, so "B/" and "B" are one backup).
void registerUnlockedBackup(std::shared_ptr<UnlockedBackup> backup);
std::shared_ptr<UnlockedBackup> unlockedBackupFor(const std::string& folder);
// The unlocked backup whose folder holds the stored file at `storedPath`, or null.
std::shared_ptr<UnlockedBackup> unlockedBackupHolding(const std::string& storedPath);
void forgetUnlockedBackup(const std::string& folder);

// The file key of a stored file's path: its last component when that is 40 hexadecimal digits,
// else "" (a name with a suffix is no manifest entry of an encrypted backup).
std::string storedFileID(const std::string& path);
