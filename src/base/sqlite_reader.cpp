#include "base/sqlite_reader.h"

#include <sqlite3.h>

#include <cstdio>
#include <utility>

#include "base/conversions.h"

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)), error_(std::move(other.error_)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    if (stmt_) sqlite3_finalize(stmt_);
    stmt_ = std::exchange(other.stmt_, nullptr);
    error_ = std::move(other.error_);
  }
  return *this;
}

SqliteStatement::~SqliteStatement() {
  if (stmt_) sqlite3_finalize(stmt_);
}

bool SqliteStatement::step() {
  if (!stmt_) return false;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) {
    const char* message = sqlite3_errmsg(sqlite3_db_handle(stmt_));
    error_ = message != nullptr && *message != '\0' ? message : sqlite3_errstr(rc);
  }
  return false;
}

void SqliteStatement::reset() {
  error_.clear();
  if (!stmt_) return;
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

bool SqliteStatement::bindInt(int index, std::int64_t value) {
  return stmt_ && sqlite3_bind_int64(stmt_, index, value) == SQLITE_OK;
}

bool SqliteStatement::bindText(int index, std::string_view value) {
  return stmt_ && sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                    SQLITE_TRANSIENT) == SQLITE_OK;
}

std::int64_t SqliteStatement::columnInt(int column) const {
  return stmt_ ? sqlite3_column_int64(stmt_, column) : 0;
}

bool SqliteStatement::columnIsNull(int column) const {
  return !stmt_ || sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

int SqliteStatement::columnCount() const { return stmt_ ? sqlite3_column_count(stmt_) : 0; }

std::optional<std::string> SqliteStatement::columnText(int column) const {
  if (columnIsNull(column)) return std::nullopt;
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  int n = sqlite3_column_bytes(stmt_, column);
  if (!text) return std::nullopt;
  return GetStringFormChar(
      std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(n)));
}

std::optional<std::string> SqliteStatement::columnNonEmptyText(int column) const {
  auto text = columnText(column);
  if (!text || text->empty()) return std::nullopt;
  return text;
}

std::string_view SqliteStatement::columnRawText(int column) const {
  if (columnIsNull(column)) return {};
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  const int n = sqlite3_column_bytes(stmt_, column);
  if (!text || n <= 0) return {};
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(n)};
}

std::span<const std::uint8_t> SqliteStatement::columnRawBlob(int column) const {
  if (columnIsNull(column)) return {};
  const void* data = sqlite3_column_blob(stmt_, column);
  const int n = sqlite3_column_bytes(stmt_, column);
  if (!data || n <= 0) return {};
  return {static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(n)};
}

Bytes SqliteStatement::columnBlob(int column) const {
  if (columnIsNull(column)) return nullptr;
  const void* data = sqlite3_column_blob(stmt_, column);
  int n = sqlite3_column_bytes(stmt_, column);
  if (!data || n <= 0) return nullptr;
  const auto* p = static_cast<const std::uint8_t*>(data);
  return makeBytes(std::vector<std::uint8_t>(p, p + n));
}

SqliteDatabase::SqliteDatabase(SqliteDatabase&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)) {}

SqliteDatabase& SqliteDatabase::operator=(SqliteDatabase&& other) noexcept {
  if (this != &other) {
    if (db_) sqlite3_close(db_);
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

SqliteDatabase::~SqliteDatabase() {
  if (db_) sqlite3_close(db_);
}

SqliteDatabase SqliteDatabase::openReadOnly(const std::string& path) {
  SqliteDatabase out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return out;
  }
  out.db_ = db;
  return out;
}

SqliteDatabase SqliteDatabase::openImmutable(const std::string& path) {
  std::string uri = "file:";
  for (char c : path) {
    if (c == '?' || c == '#' || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      uri += hex;
    } else {
      uri += c;
    }
  }
  uri += "?immutable=1";
  SqliteDatabase out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(db);
    return out;
  }
  out.db_ = db;
  return out;
}

SqliteStatement SqliteDatabase::prepare(const std::string& sql) const {
  if (!db_) return {};
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return {};
  }
  return SqliteStatement(stmt);
}

std::vector<std::string> SqliteDatabase::columnsOf(const std::string& table) const {
  std::vector<std::string> names;
  std::string quoted;
  for (char c : table) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  SqliteStatement rows = prepare("PRAGMA table_info(\"" + quoted + "\")");
  while (rows.step()) {
    if (auto name = rows.columnText(1)) names.push_back(std::move(*name));
  }
  return names;
}
