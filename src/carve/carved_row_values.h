// The values of one carved row read by column name, as SQLite names columns (without regard
// to case), so that the same code reads every generation of a table: a column the table or
// the record lacks reads as none.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carve/schema_carver.h"
#include "carve/table_schema.h"

namespace carve {

// A column of a table found by its name once, to be read from each of the table's rows.
struct Column {
  std::optional<std::size_t> index;  // none when the table has no such column
};

// The columns of one table by name, without regard to case, and its rowid alias column:
// worked out once for all the rows of the table.
class ColumnNames {
 public:
  // `table` must outlive it: the names are read where the table keeps them.
  explicit ColumnNames(const TableDefinition& table);
  // The first column so named, or none.
  std::optional<std::size_t> find(std::string_view name) const;
  Column column(std::string_view name) const { return {find(name)}; }
  int rowidAlias() const { return rowidAlias_; }

 private:
  // Open addressing by a digest of the name made small: each slot a column's name and its
  // index, the first column of each name only; a slot of an empty name is free.
  std::vector<std::pair<std::string_view, std::size_t>> slots_;
  std::size_t mask_ = 0;
  int rowidAlias_ = -1;
};

class RowValues {
 public:
  // `columns` must be those of the table `row` fits, and outlive the rows.
  RowValues(std::shared_ptr<const ColumnNames> columns, const CarvedRow& row)
      : columns_(std::move(columns)), row_(&row) {}

  const CarvedRow& row() const { return *row_; }
  const ColumnNames& columns() const { return *columns_; }

  // The row id: the cell's, else the rowid alias column's.
  std::optional<std::int64_t> rowid() const;
  // An integer value.
  std::optional<std::int64_t> integer(std::string_view name) const;
  // An integer or a finite real, as a real.
  std::optional<double> number(std::string_view name) const;
  // A text that is not empty.
  std::optional<std::string> text(std::string_view name) const;
  // A text or a blob of its bytes, not empty (ZADDRESS holds either).
  std::optional<std::string> textOrBlob(std::string_view name) const;
  // The value of the column, or null when the table or the record has no such column.
  const SqlValue* value(std::string_view name) const;
  // The same of a column found once (ColumnNames::column()) among this row's table's.
  std::optional<std::int64_t> integer(Column column) const;
  std::optional<std::string> text(Column column) const;
  const SqlValue* value(Column column) const;

 private:
  std::shared_ptr<const ColumnNames> columns_;
  const CarvedRow* row_;
};

// The carved rows of the tables named `names` (each that the schema has), in that order.
std::vector<RowValues> rowsOf(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                              std::initializer_list<std::string_view> names);

}  // namespace carve
