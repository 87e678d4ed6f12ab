// The columns a table of an open database has, for queries that serve every layout of a
// device database: a column the table lacks is selected as NULL.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/sqlite_reader.h"

using ColumnSet = std::unordered_set<std::string>;

// The column names of `table`; empty when the database has no such table.
inline ColumnSet columnSet(const SqliteDatabase& db, const std::string& table) {
  const std::vector<std::string> names = db.columnsOf(table);
  return ColumnSet(names.begin(), names.end());
}

// "alias.column" when the table has the column, else NULL in its place.
inline std::string columnOrNull(const ColumnSet& columns, std::string_view alias,
                                const char* column) {
  if (!columns.contains(column)) return "NULL";
  return std::string(alias) + "." + column;
}
