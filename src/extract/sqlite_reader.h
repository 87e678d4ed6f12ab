// A read-only SQLite connection and prepared statements, closed by their destructors.
//
// Text columns are decoded with the shared UTF-8 conversion, so every scanner reads text
// the same way; a NULL column reads as none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "extract/bytes.h"

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
  // Advances to the next row; false at the end or on an error.
  bool step();
  void reset();
  bool bindInt(int index, std::int64_t value);

  std::int64_t columnInt(int column) const;
  // The column as decoded text; none when it is NULL.
  std::optional<std::string> columnText(int column) const;
  // The column's text when present and not empty.
  std::optional<std::string> columnNonEmptyText(int column) const;
  // The column's bytes; none when it is NULL or has no bytes.
  Bytes columnBlob(int column) const;
  bool columnIsNull(int column) const;
  int columnCount() const;

 private:
  friend class SqliteDatabase;
  explicit SqliteStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  sqlite3_stmt* stmt_ = nullptr;
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

  bool isOpen() const { return db_ != nullptr; }
  // A prepared statement, or an invalid one when `sql` cannot be prepared.
  SqliteStatement prepare(const std::string& sql) const;

 private:
  sqlite3* db_ = nullptr;
};
