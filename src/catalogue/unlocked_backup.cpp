#include "catalogue/unlocked_backup.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/log.h"
#include "catalogue/backup_cipher.h"
#include "catalogue/keyed_archive_field.h"
#include "catalogue/manifest_reader.h"
#include "catalogue/plist_file.h"
#include "catalogue/stored_file.h"

namespace fs = std::filesystem;

namespace {

// Named as the scan's own private folders are, so that one left behind by a process that
// ended without cleaning up is removed by the next scan.
constexpr const char* kPrivatePrefix = "retrievo-scan-";

UnlockResult failure(UnlockStatus status, std::string reason) {
  UnlockResult result;
  result.status = status;
  result.reason = std::move(reason);
  return result;
}

const std::vector<std::uint8_t>* plistData(const PlistDict& dict, const std::string& key) {
  const auto it = dict.find(key);
  return it == dict.end() ? nullptr : std::get_if<std::vector<std::uint8_t>>(&it->second.value);
}

std::string folderKey(const std::string& folder) {
  std::string key = fs::path(folder).lexically_normal().string();
  while (key.size() > 1 && key.back() == '/') key.pop_back();
  return key;
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<UnlockedBackup>> backups;
};

Registry& registry() {
  static Registry r;
  return r;
}

}  // namespace

UnlockResult UnlockedBackup::unlock(const std::string& folder, std::string_view password,
                                    const std::function<void()>& deriving) {
  PlistProblem problem;
  const auto manifest = readPlistDictionary(folder + "/Manifest.plist", &problem);
  if (!manifest) {
    return failure(UnlockStatus::Unreadable,
                   "cannot read Manifest.plist (" + describePlistProblem(problem) + ")");
  }
  if (!plistBool(*manifest, "IsEncrypted").value_or(false)) {
    return failure(UnlockStatus::NotEncrypted, "the backup is not encrypted");
  }
  const auto* bagBytes = plistData(*manifest, "BackupKeyBag");
  if (!bagBytes) return failure(UnlockStatus::Unreadable, "Manifest.plist has no BackupKeyBag");
  std::string why;
  const auto bag = parseBackupKeyBag(*bagBytes, &why);
  if (!bag) return failure(UnlockStatus::Unreadable, "the backup key bag is damaged: " + why);

  std::unique_ptr<UnlockedBackup> backup(new UnlockedBackup());
  backup->folder_ = folder;
  if (deriving) deriving();
  auto passwordKey = backupPasswordKey(*bag, password);
  if (!passwordKey) return failure(UnlockStatus::Unreadable, "the backup key cannot be derived");
  backup->classKeys_ = unlockClassKeys(*bag, *passwordKey);
  OPENSSL_cleanse(passwordKey->data(), passwordKey->size());
  if (backup->classKeys_.empty()) return failure(UnlockStatus::WrongPassword, "wrong password");

  std::error_code ec;
  if (fs::exists(folder + "/Manifest.mbdb", ec)) {
    auto keys = readMbdbEncryptionKeys(folder);
    if (!keys) return failure(UnlockStatus::Unreadable, "cannot read Manifest.mbdb");
    backup->manifestIsMbdb_ = true;
    backup->mbdbKeys_ = std::move(*keys);
  } else if (const auto* manifestKey = plistData(*manifest, "ManifestKey")) {
    const auto key = unwrapProtectedKey(backup->classKeys_, *manifestKey, &why);
    if (!key) return failure(UnlockStatus::Unreadable, "the ManifestKey is unusable: " + why);
    const OpenedStoredFile stored = openStoredFile(folder, folder + "/Manifest.db");
    if (stored.fd < 0) {
      return failure(UnlockStatus::Unreadable, "cannot read Manifest.db (" + stored.reason() + ")");
    }
    if (!backup->makePrivateFolder(&why)) {
      ::close(stored.fd);
      return failure(UnlockStatus::NoPrivateFolder, why);
    }
    const std::string copy = backup->privateFolder_ + "/Manifest.db";
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
      ::close(stored.fd);
      return failure(
          UnlockStatus::NoPrivateFolder,
          std::string("cannot write the decrypted manifest (") + std::strerror(errno) + ")");
    }
    const DecryptResult decrypted = decryptToDescriptor(stored.fd, *key, out);
    ::close(stored.fd);
    const bool closed = ::close(out) == 0;
    if (decrypted.end == DecryptEnd::WriteFailed || !closed) {
      return failure(UnlockStatus::NoPrivateFolder,
                     "cannot write the decrypted manifest (" +
                         std::string(std::strerror(decrypted.error ? decrypted.error : EIO)) + ")");
    }
    if (decrypted.end != DecryptEnd::Done) {
      return failure(UnlockStatus::Unreadable,
                     "Manifest.db does not decrypt: " + describeDecryptEnd(decrypted));
    }
    backup->manifestDb_ = copy;
  } else {
    // Backups of iOS 10.0 and 10.1 keep Manifest.db itself unencrypted.
    backup->manifestDb_ = folder + "/Manifest.db";
  }
  if (!backup->manifestIsMbdb_) {
    backup->manifest_ = SqliteDatabase::openImmutable(backup->manifestDb_);
    if (backup->manifest_.isOpen()) {
      backup->lookup_ = backup->manifest_.prepare("SELECT file FROM Files WHERE fileID = ?");
    }
    if (!backup->lookup_.valid()) {
      return failure(UnlockStatus::Unreadable, "Manifest.db does not decrypt to a database");
    }
    if (backup->manifestDb_.rfind(folder, 0) == 0) backup->manifestDb_.clear();
  }
  UnlockResult result;
  result.status = UnlockStatus::Unlocked;
  result.backup = std::shared_ptr<UnlockedBackup>(backup.release());
  return result;
}

UnlockedBackup::~UnlockedBackup() {
  for (auto& [cls, key] : classKeys_) OPENSSL_cleanse(key.data(), key.size());
  lookup_ = SqliteStatement();
  manifest_ = SqliteDatabase();
  if (!privateFolder_.empty()) {
    std::error_code ec;
    fs::remove_all(privateFolder_, ec);
  }
}

bool UnlockedBackup::makePrivateFolder(std::string* error) {
  if (!privateFolder_.empty()) return true;
  const char* tmp = std::getenv("TMPDIR");
  const std::string parent = tmp && tmp[0] ? tmp : "/tmp";
  std::string pattern =
      parent + "/" + kPrivatePrefix + std::to_string(static_cast<long>(::getpid())) + "-XXXXXX";
  // mkdtemp makes the folder with mode 0700, owned by this user.
  if (!mkdtemp(pattern.data())) {
    if (error) {
      *error = "cannot make a private folder for decrypted files in " + parent + " (" +
               std::strerror(errno) + ")";
    }
    return false;
  }
  privateFolder_ = pattern;
  return true;
}

std::optional<std::vector<std::uint8_t>> UnlockedBackup::recordedKey(const std::string& fileID,
                                                                     std::string* error) const {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return std::nullopt;
  };
  if (manifestIsMbdb_) {
    const auto it = mbdbKeys_.find(fileID);
    if (it == mbdbKeys_.end()) return fail("the manifest records no key for the file");
    return it->second;
  }
  std::lock_guard<std::mutex> lock(lookupMutex_);
  lookup_.reset();
  lookup_.bindText(1, fileID);
  if (!lookup_.step()) return fail("the file is not in the manifest");
  const auto key = keyedArchiveData(lookup_.columnRawBlob(0), "EncryptionKey");
  lookup_.reset();
  if (!key) return fail("the manifest records no key for the file");
  return key;
}

std::optional<AesKey> UnlockedBackup::fileKey(const std::string& fileID, std::string* error) const {
  auto recorded = recordedKey(fileID, error);
  if (!recorded) return std::nullopt;
  std::string why;
  auto key = unwrapProtectedKey(classKeys_, *recorded, &why);
  if (!key && error) *error = "the file's key is unusable: " + why;
  return key;
}

std::optional<std::uint64_t> UnlockedBackup::plaintextSize(const std::string& fileID,
                                                           const std::string& storedPath,
                                                           std::uint64_t storedSize) const {
  if (!manifestIsMbdb_) {
    std::lock_guard<std::mutex> lock(lookupMutex_);
    if (!sizesRead_) {
      sizesRead_ = true;
      SqliteStatement rows = manifest_.prepare("SELECT fileID, file FROM Files");
      while (rows.step()) {
        if (auto size = keyedArchiveInteger(rows.columnRawBlob(1), "Size")) {
          recordedSizes_.emplace(std::string(rows.columnRawText(0)), *size);
        }
      }
    }
    const auto it = recordedSizes_.find(fileID);
    if (it != recordedSizes_.end()) return it->second;
  }
  const auto key = fileKey(fileID);
  if (!key) return std::nullopt;
  const OpenedStoredFile stored = openStoredFile(folder_, storedPath);
  if (stored.fd < 0) return std::nullopt;
  auto size = ::plaintextSize(stored.fd, storedSize, *key);
  ::close(stored.fd);
  return size;
}

std::optional<std::string> UnlockedBackup::decryptedCopy(const std::string& fileID,
                                                         const CopyMaker& make,
                                                         std::string* error) {
  std::lock_guard<std::mutex> lock(copiesMutex_);
  if (const auto it = copies_.find(fileID); it != copies_.end()) return it->second;
  if (!makePrivateFolder(error)) return std::nullopt;
  const std::string target = privateFolder_ + "/" + fileID;
  if (!make(target, error)) {
    std::error_code ec;
    fs::remove(target, ec);
    return std::nullopt;
  }
  copies_[fileID] = target;
  return target;
}

void registerUnlockedBackup(std::shared_ptr<UnlockedBackup> backup) {
  if (!backup) return;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.backups[folderKey(backup->folder())] = std::move(backup);
}

std::shared_ptr<UnlockedBackup> unlockedBackupFor(const std::string& folder) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (r.backups.empty()) return nullptr;
  const auto it = r.backups.find(folderKey(folder));
  return it == r.backups.end() ? nullptr : it->second;
}

std::shared_ptr<UnlockedBackup> unlockedBackupHolding(const std::string& storedPath) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (const auto& [folder, backup] : r.backups) {
    if (storedPath.size() > folder.size() && storedPath[folder.size()] == '/' &&
        storedPath.compare(0, folder.size(), folder) == 0) {
      return backup;
    }
  }
  return nullptr;
}

void forgetUnlockedBackup(const std::string& folder) {
  std::shared_ptr<UnlockedBackup> gone;
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto it = r.backups.find(folderKey(folder));
  if (it == r.backups.end()) return;
  gone = std::move(it->second);
  r.backups.erase(it);
}

std::string storedFileID(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() != 40) return {};
  for (char& c : name) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}
