#include "catalogue/manifest_reader.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "base/conversions.h"
#include "base/log.h"
#include "base/notification_center.h"
#include "base/sqlite_reader.h"
#include "catalogue/sha1.h"
#include "catalogue/stored_file.h"
#include "catalogue/unlocked_backup.h"

namespace {

constexpr std::size_t kKeptStringBuffer = 260;  // a kept string keeps at most 259 bytes
constexpr std::uint16_t kAbsentLength = 0xFFFF;
constexpr std::size_t kFixedFieldsLength = 39;  // mode .. flags
// "mbdb" and the format version 5.0.
constexpr std::uint8_t kMbdbHeader[] = {'m', 'b', 'd', 'b', 5, 0};

// A cursor over the manifest bytes that never reads past the end.
class ByteCursor {
 public:
  ByteCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t position() const { return pos_; }
  bool atEnd() const { return pos_ >= size_; }
  std::size_t remaining() const { return size_ - pos_; }

  bool readU16(std::uint16_t& out) {
    if (remaining() < 2) return false;
    out = static_cast<std::uint16_t>((data_[pos_] << 8) | data_[pos_ + 1]);
    pos_ += 2;
    return true;
  }
  bool readU8(std::uint8_t& out) {
    if (remaining() < 1) return false;
    out = data_[pos_++];
    return true;
  }
  bool skip(std::size_t n) {
    if (remaining() < n) return false;
    pos_ += n;
    return true;
  }
  const std::uint8_t* here() const { return data_ + pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

enum class StringRead { Value, Unset, Truncated };

// How many of `length` bytes of UTF-8 text to keep within the 259-byte bound. A cut that
// would fall inside a character moves back to the character's start: cutting it in two
// would make the whole text undecodable and lose the entry's path.
std::size_t keptLength(const std::uint8_t* bytes, std::size_t length) {
  std::size_t keep = std::min<std::size_t>(length, kKeptStringBuffer - 1);
  if (keep < length) {
    std::size_t back = keep;
    while (back > 0 && keep - back < 3 && (bytes[back] & 0xC0) == 0x80) --back;
    if ((bytes[back] & 0xC0) != 0x80) keep = back;
  }
  return keep;
}

// One manifest string: a 16-bit big-endian length and that many bytes. 0xFFFF (absent) and
// 0 (empty) leave the field unset. A kept string is cut to its first 259 bytes.
StringRead readString(ByteCursor& in, std::string* kept) {
  std::uint16_t length = 0;
  if (!in.readU16(length)) return StringRead::Truncated;
  if (length == kAbsentLength || length == 0) return StringRead::Unset;
  if (in.remaining() < length) return StringRead::Truncated;
  if (kept) {
    std::size_t keep = keptLength(in.here(), length);
    *kept = GetStringFormChar(std::string_view(reinterpret_cast<const char*>(in.here()), keep));
  }
  in.skip(length);
  return StringRead::Value;
}

// One Manifest.mbdb entry from `in`: its domain and path (kept as readString keeps them), the
// bytes of its encryption-key field when `encryptionKey` is given, and the first byte of its
// mode, which carries the entry's type in its top four bits. False when the entry runs past
// the end of the bytes.
bool readMbdbEntry(ByteCursor& in, std::string& domain, std::string& path,
                   std::vector<std::uint8_t>* encryptionKey, std::uint8_t& modeHigh) {
  domain.clear();
  path.clear();
  if (readString(in, &domain) == StringRead::Truncated) return false;
  if (readString(in, &path) == StringRead::Truncated) return false;
  for (int i = 0; i < 2; ++i) {  // link target, data hash
    if (readString(in, nullptr) == StringRead::Truncated) return false;
  }
  const std::uint8_t* keyStart = in.here() + 2;
  const std::size_t before = in.position();
  const StringRead key = readString(in, nullptr);
  if (key == StringRead::Truncated) return false;
  if (encryptionKey) {
    if (key == StringRead::Value) {
      encryptionKey->assign(keyStart, keyStart + (in.position() - before - 2));
    } else {
      encryptionKey->clear();
    }
  }
  std::uint8_t propertyCount = 0;
  if (!in.readU8(modeHigh) || !in.skip(kFixedFieldsLength - 1) || !in.readU8(propertyCount)) {
    return false;
  }
  for (int i = 0; i < 2 * propertyCount; ++i) {
    if (readString(in, nullptr) == StringRead::Truncated) return false;
  }
  return true;
}

// The file key of domain + "-" + path into `key` (40 lowercase hexadecimal digits, the text
// SHAH::toText gives), or "" when the digest fails. `key` is reused from record to record so
// that forming a key allocates nothing.
void digestInto(SHAH& sha, const std::string& domain, const std::string& path, std::string& key) {
  // The key text is formed whole, however long the two parts are.
  sha.reset();
  sha.add(domain);
  sha.add("-", 1);
  sha.add(path);
  auto words = sha.finish();
  if (!words) {
    applog::line("AnalyzerFile hash1 could not compute message digest.\n");
    key.clear();
    return;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  key.resize(40);
  for (std::size_t w = 0; w < words->size(); ++w) {
    for (std::size_t d = 0; d < 8; ++d) {
      key[8 * w + d] = kDigits[((*words)[w] >> (28 - 4 * d)) & 0xF];
    }
  }
}

bool isFileKey(const std::string& text) {
  if (text.size() != 40) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Gives storedFilePath()'s answer for every key of one backup folder from one listing of
// the folder (and of each two-digit folder when first needed) instead of two file-status
// calls per key: a manifest names every file of the backup, and those calls would
// otherwise dominate the reading. Only names of 40 lowercase hexadecimal digits can be
// asked for, so only those are kept, as 20 bytes each in a sorted list. A key of another
// form, or a folder that cannot be listed, is answered by storedFilePath() itself.
class StoredFileLocator {
 public:
  explicit StoredFileLocator(std::string folder) : folder_(std::move(folder)) {
    listed_ = list(folder_, flat_, &twoDigitNames_);
  }

  std::string pathOf(const std::string& key) {
    Digest digest;
    if (!listed_ || !decode(key, digest)) return storedFilePath(folder_, key);
    if (contains(flat_, digest)) return joined(key, false);
    const std::uint8_t sub = digest[0];
    if (!twoDigitNames_[sub]) return joined(key, false);
    if (nestedState_[sub] == kUnlisted) {
      const bool ok = list(folder_ + "/" + key.substr(0, 2), nested_[sub], nullptr);
      // A two-digit name that is not a folder holds no stored files.
      nestedState_[sub] = ok || errno == ENOTDIR ? kListed : kUnreadable;
    }
    if (nestedState_[sub] == kUnreadable) return storedFilePath(folder_, key);
    return contains(nested_[sub], digest) ? joined(key, true) : joined(key, false);
  }

 private:
  using Digest = std::array<std::uint8_t, 20>;

  static int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  }
  // 40 lowercase hexadecimal digits as 20 bytes.
  static bool decode(std::string_view name, Digest& out) {
    if (name.size() != 40) return false;
    for (std::size_t i = 0; i < 20; ++i) {
      int hi = hexValue(name[2 * i]), lo = hexValue(name[2 * i + 1]);
      if (hi < 0 || lo < 0) return false;
      out[i] = static_cast<std::uint8_t>((hi << 4) | lo);
    }
    return true;
  }
  static bool contains(const std::vector<Digest>& names, const Digest& d) {
    return std::binary_search(names.begin(), names.end(), d);
  }

  // <folder>/<key> or <folder>/<first two digits>/<key>, in one allocation.
  std::string joined(const std::string& key, bool nested) const {
    std::string path;
    path.reserve(folder_.size() + key.size() + 4);
    path.append(folder_).append("/");
    if (nested) path.append(key, 0, 2).append("/");
    path.append(key);
    return path;
  }

  // The key names below `folder` that exist (a symbolic link counts when its target exists),
  // sorted; with `twoDigit`, which two-digit names exist there too.
  // Returns false (errno telling why) when the folder cannot be listed to its end.
  static bool list(const std::string& folder, std::vector<Digest>& names,
                   std::array<bool, 256>* twoDigit) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    errno = 0;
    while (const dirent* entry = readdir(dir)) {
      const std::string_view name(entry->d_name);
      Digest digest;
      const bool isKey = decode(name, digest);
      const bool isTwoDigit =
          twoDigit && name.size() == 2 && hexValue(name[0]) >= 0 && hexValue(name[1]) >= 0;
      if (!isKey && !isTwoDigit) continue;
      if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
        struct stat st;
        const bool exists = fstatat(dirfd(dir), entry->d_name, &st, 0) == 0;
        errno = 0;  // only readdir's own failure counts below
        if (!exists) continue;
      }
      if (isKey) names.push_back(digest);
      if (isTwoDigit) {
        (*twoDigit)[static_cast<std::size_t>((hexValue(name[0]) << 4) | hexValue(name[1]))] = true;
      }
    }
    const int error = errno;
    closedir(dir);
    std::sort(names.begin(), names.end());
    errno = error;
    return error == 0;
  }

  const std::string folder_;
  bool listed_ = false;
  std::vector<Digest> flat_;
  std::array<bool, 256> twoDigitNames_{};
  enum : std::int8_t { kUnlisted, kListed, kUnreadable };
  std::array<std::int8_t, 256> nestedState_{};  // all kUnlisted
  std::array<std::vector<Digest>, 256> nested_;
};

NotificationCenter& centerOf(const ManifestReadOptions& options) {
  return options.nc ? *options.nc : NotificationCenter::defaultCenter();
}

// Announces one record, hands it to the media classification and keeps it.
void deliver(const std::shared_ptr<MzTreeDirNode>& record, std::int32_t progress, FileIndex& index,
             const ManifestReadOptions& options) {
  NotificationCenter& nc = centerOf(options);
  static const std::string kFind = "FindBackUpDirFileInfo";
  static const std::string kProgress = "ScanProgressInfo";
  nc.post(kFind, record);
  if (!options.bIOSRecoveryMode) nc.post(kProgress, progress);
  if (options.GetMediaFileByNode) options.GetMediaFileByNode(record);
  index.push_back(record);
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& out) {
  std::error_code ec;
  auto size = std::filesystem::file_size(path, ec);
  if (ec) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  out.resize(static_cast<std::size_t>(in.gcount()));
  return true;
}

}  // namespace

ManifestReadResult readManifestMbdbBytes(const std::uint8_t* data, std::size_t size,
                                         const std::string& backupFolder, FileIndex& index,
                                         const ManifestReadOptions& options) {
  ManifestReadResult result;
  result.manifestName = "Manifest.mbdb";
  if (!data || size < 6) {
    result.status = ManifestStatus::BadHeader;
    return result;
  }
  if (std::memcmp(data, kMbdbHeader, sizeof kMbdbHeader) != 0) {
    result.status = ManifestStatus::BadHeader;
    return result;
  }

  ByteCursor in(data, size);
  in.skip(6);
  SHAH sha;
  StoredFileLocator stored(backupFolder);
  std::string digest;
  result.status = ManifestStatus::Read;
  while (!in.atEnd()) {
    auto record = std::make_shared<MzTreeDirNode>();
    std::uint8_t modeHigh = 0;
    if (!readMbdbEntry(in, record->fileDomain, record->filePath, nullptr, modeHigh)) {
      applog::line("Manifest.mbdb is cut short at byte " + std::to_string(in.position()) +
                   "; keeping the " + std::to_string(index.size()) + " entries before it");
      result.status = ManifestStatus::Truncated;
      break;
    }
    record->isFolder = (modeHigh >> 4) == 0x4;
    record->isLink = (modeHigh >> 4) == 0xA;
    digestInto(sha, record->fileDomain, record->filePath, digest);
    record->fileKey = digest.empty() ? std::string() : stored.pathOf(digest);
    auto progress = static_cast<std::int32_t>((static_cast<std::uint64_t>(in.position()) * 20) /
                                              static_cast<std::uint64_t>(size));
    deliver(record, progress, index, options);
    ++result.entries;
  }
  return result;
}

std::optional<std::unordered_map<std::string, std::vector<std::uint8_t>>> readMbdbEncryptionKeys(
    const std::uint8_t* data, std::size_t size) {
  if (!data || size < 6 || std::memcmp(data, kMbdbHeader, sizeof kMbdbHeader) != 0) {
    return std::nullopt;
  }
  std::unordered_map<std::string, std::vector<std::uint8_t>> keys;
  ByteCursor in(data, size);
  in.skip(6);
  SHAH sha;
  std::string domain, path, digest;
  std::vector<std::uint8_t> key;
  std::uint8_t modeHigh = 0;
  while (!in.atEnd()) {
    if (!readMbdbEntry(in, domain, path, &key, modeHigh)) break;
    if (key.empty()) continue;
    digestInto(sha, domain, path, digest);
    if (!digest.empty()) keys[digest] = key;
  }
  return keys;
}

std::optional<std::unordered_map<std::string, std::vector<std::uint8_t>>> readMbdbEncryptionKeys(
    const std::string& backupFolder) {
  std::vector<std::uint8_t> bytes;
  if (!readWholeFile(backupFolder + "/Manifest.mbdb", bytes)) return std::nullopt;
  return readMbdbEncryptionKeys(bytes.data(), bytes.size());
}

ManifestReadResult readManifestMbdb(const std::string& backupFolder, FileIndex& index,
                                    const ManifestReadOptions& options) {
  std::vector<std::uint8_t> bytes;
  if (!readWholeFile(backupFolder + "/Manifest.mbdb", bytes)) {
    return ManifestReadResult{ManifestStatus::Missing, 0, ""};
  }
  return readManifestMbdbBytes(bytes.data(), bytes.size(), backupFolder, index, options);
}

ManifestReadResult readManifestDb(const std::string& backupFolder, FileIndex& index,
                                  const ManifestReadOptions& options) {
  ManifestReadResult result;
  // An encrypted backup's manifest is read from its decrypted copy.
  const std::shared_ptr<UnlockedBackup> unlocked = unlockedBackupFor(backupFolder);
  const std::string path = unlocked && !unlocked->manifestDbPath().empty()
                               ? unlocked->manifestDbPath()
                               : backupFolder + "/Manifest.db";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return result;
  result.manifestName = "Manifest.db";

  SqliteDatabase db = SqliteDatabase::openImmutable(path);
  if (!db.isOpen()) {
    result.status = ManifestStatus::BadHeader;
    return result;
  }
  std::int64_t rowCount = 0;
  if (SqliteStatement count = db.prepare("SELECT count(*) FROM Files"); count.step()) {
    rowCount = count.columnInt(0);
  }
  SqliteStatement rows =
      db.prepare("SELECT fileID, domain, relativePath, flags FROM Files ORDER BY rowid");
  if (!rows.valid()) {
    result.status = ManifestStatus::BadHeader;
    return result;
  }
  auto text = [&rows](int column) {
    const std::string_view raw = rows.columnRawText(column);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(raw.data());
    return GetStringFormChar(raw.substr(0, keptLength(bytes, raw.size())));
  };
  SHAH sha;
  StoredFileLocator stored(backupFolder);
  std::int64_t rowNumber = 0;
  std::string digest;  // reused from record to record
  result.status = ManifestStatus::Read;
  while (rows.step()) {
    ++rowNumber;
    auto record = std::make_shared<MzTreeDirNode>();
    record->fileDomain = text(1);
    record->filePath = text(2);
    const std::int64_t flags = rows.columnInt(3);
    record->isFolder = flags == 2;
    record->isLink = flags == 4;
    digestInto(sha, record->fileDomain, record->filePath, digest);
    // Nearly every fileID is stored as its computed key, byte for byte; only one that is not
    // needs decoding and comparing.
    const std::string fileID = rows.columnRawText(0) == digest ? std::string() : text(0);
    if (!fileID.empty() && digest != fileID) {
      // The backup stores the file under its fileID. One that is not a key (a path, "..")
      // would point outside the backup folder, so the computed key stays then.
      const bool usable = isFileKey(fileID);
      applog::line("Manifest.db entry " + record->fileDomain + "-" + record->filePath +
                   " is stored under " + fileID + ", not under its computed key " + digest +
                   (usable ? "" : "; the fileID is not a file key and is ignored"));
      if (usable) digest = fileID;
    }
    record->fileKey = digest.empty() ? std::string() : stored.pathOf(digest);
    auto progress = static_cast<std::int32_t>(rowCount > 0 ? (rowNumber * 20) / rowCount : 20);
    deliver(record, progress, index, options);
    ++result.entries;
  }
  if (rows.failed()) {
    applog::line("Manifest.db could not be read past entry " + std::to_string(rowNumber));
    result.status = ManifestStatus::Truncated;
  }
  return result;
}

ManifestReadResult scanDirAnalyThread(const std::string& backupFolder, FileIndex& index,
                                      const ManifestReadOptions& options) {
  std::error_code ec;
  if (std::filesystem::exists(backupFolder + "/Manifest.mbdb", ec)) {
    return readManifestMbdb(backupFolder, index, options);
  }
  return readManifestDb(backupFolder, index, options);
}

std::optional<std::string> getFileKeyBytheFilepath(const FileIndex& index,
                                                   const std::string& path) {
  for (auto it = index.rbegin(); it != index.rend(); ++it) {
    if (*it && (*it)->filePath == path) return (*it)->fileKey;
  }
  return std::nullopt;
}
