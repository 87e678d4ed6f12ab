#include "extract/database_preparation.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/log.h"
#include "catalogue/stored_file.h"

namespace fs = std::filesystem;

namespace {

bool isRegularFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

bool copyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) return false;
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                  ec);
  return true;
}

}  // namespace

DatabasePreparer::DatabasePreparer(std::string backupFolder)
    : backupFolder_(std::move(backupFolder)) {}

DatabasePreparer::~DatabasePreparer() {
  if (!workspace_.empty()) {
    std::error_code ec;
    fs::remove_all(workspace_, ec);
  }
}

bool DatabasePreparer::ensureWorkspace() {
  if (!workspace_.empty()) return true;
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/retrievo-scan-XXXXXX";
  // mkdtemp makes the folder with mode 0700, owned by this user.
  if (!mkdtemp(pattern.data())) {
    applog::line("Cannot create the scan's private folder");
    return false;
  }
  workspace_ = pattern;
  return true;
}

std::optional<std::string> DatabasePreparer::copyWithLog(const std::string& storedFile,
                                                         const std::string& walKey) {
  if (auto it = copies_.find(storedFile); it != copies_.end()) return it->second;
  if (!isRegularFile(storedFile) || !ensureWorkspace()) return std::nullopt;

  const std::string copy = workspace_ + "/db" + std::to_string(nextId_++) + ".sqlite";
  if (!copyFile(storedFile, copy)) return std::nullopt;

  std::string log = walKey.empty() ? std::string() : storedFilePath(backupFolder_, walKey);
  if (log.empty() || !isRegularFile(log)) log = storedFile + "-wal";
  if (isRegularFile(log)) {
    copyFile(log, copy + "-wal");
    if (isRegularFile(storedFile + "-shm")) copyFile(storedFile + "-shm", copy + "-shm");
  }
  copies_[storedFile] = copy;
  return copy;
}

std::optional<std::string> DatabasePreparer::commitDB(const std::string& storedFile,
                                                      const std::string& walKey) {
  auto copy = copyWithLog(storedFile, walKey);
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
                                                          const std::string& walKey) {
  return copyWithLog(storedFile, walKey);
}

std::optional<std::string> DatabasePreparer::preparedCopy(const std::string& storedFile) const {
  auto it = copies_.find(storedFile);
  if (it == copies_.end()) return std::nullopt;
  return it->second;
}
