// A read-only SQLite connection and prepared statements, closed by their destructors.
//
// Text columns are decoded with the shared UTF-8 conversion, so every scanner reads text
// the same way; a NULL column reads as none.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/bytes.h"

struct sqlite3;
struct sqlite3_stmt;

class SqliteStatement {
 public:
  SqliteStatement() = default;
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;
  ~SqliteStatement();

  bool valid() const { return stmt_ != nullptr; }
  // Advances to the next row: true on a row, false at the end of the rows or on an error,
  // which failed() tells apart (a damaged table must not read as an empty one).
  bool step();
  // True when the last step() failed; error() is SQLite's message for it.
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  void reset();
  bool bindInt(int index, std::int64_t value);
  // Binds a copy of `value` as text.
  bool bindText(int index, std::string_view value);

  std::int64_t columnInt(int column) const;
  // The column as decoded text; none when it is NULL.
  std::optional<std::string> columnText(int column) const;
  // The column's text when present and not empty.
  std::optional<std::string> columnNonEmptyText(int column) const;
  // The column's bytes; none when it is NULL or has no bytes.
  Bytes columnBlob(int column) const;
  // The column's text as stored, undecoded; valid until the next step. Empty for NULL.
  std::string_view columnRawText(int column) const;
  // The column's bytes in place; valid until the next step. Empty for NULL.
  std::span<const std::uint8_t> columnRawBlob(int column) const;
  bool columnIsNull(int column) const;
  int columnCount() const;

 private:
  friend class SqliteDatabase;
  explicit SqliteStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  sqlite3_stmt* stmt_ = nullptr;
  std::string error_;
};

class SqliteDatabase {
 public:
  SqliteDatabase() = default;
  SqliteDatabase(SqliteDatabase&& other) noexcept;
  SqliteDatabase& operator=(SqliteDatabase&& other) noexcept;
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;
  ~SqliteDatabase();

  // Opens `path` read-only; check isOpen().
  static SqliteDatabase openReadOnly(const std::string& path);
  // Opens `path` read-only as an immutable file: SQLite then makes no journal or
  // shared-memory file beside it and never writes to its folder (a backup's Manifest.db).
  static SqliteDatabase openImmutable(const std::string& path);

  bool isOpen() const { return db_ != nullptr; }
  // A prepared statement, or an invalid one when `sql` cannot be prepared.
  SqliteStatement prepare(const std::string& sql) const;
  // The names of the columns of `table`, in their order; empty when there is no such table.
  std::vector<std::string> columnsOf(const std::string& table) const;

 private:
  sqlite3* db_ = nullptr;
};
