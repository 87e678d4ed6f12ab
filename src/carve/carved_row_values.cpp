#include "carve/carved_row_values.h"

#include <cctype>
#include <cmath>

#include "base/ascii_case.h"

namespace carve {

std::optional<std::int64_t> RowValues::rowid() const {
  if (row_->rowid) return row_->rowid;
  const int alias = table_->rowidAliasColumn();
  if (alias < 0 || static_cast<std::size_t>(alias) >= row_->values.size()) return std::nullopt;
  const SqlValue& v = row_->values[static_cast<std::size_t>(alias)];
  if (v.kind == SqlValue::Kind::Integer) return v.integer;
  return std::nullopt;
}

std::optional<std::int64_t> RowValues::integer(std::string_view name) const {
  const SqlValue* v = value(name);
  if (v == nullptr || v->kind != SqlValue::Kind::Integer) return std::nullopt;
  return v->integer;
}

std::optional<double> RowValues::number(std::string_view name) const {
  const SqlValue* v = value(name);
  if (v == nullptr) return std::nullopt;
  if (v->kind == SqlValue::Kind::Integer) return static_cast<double>(v->integer);
  if (v->kind == SqlValue::Kind::Real && std::isfinite(v->real)) return v->real;
  return std::nullopt;
}

std::optional<std::string> RowValues::text(std::string_view name) const {
  const SqlValue* v = value(name);
  if (v == nullptr || v->kind != SqlValue::Kind::Text || v->bytes.empty()) return std::nullopt;
  return v->bytes;
}

std::optional<std::string> RowValues::textOrBlob(std::string_view name) const {
  const SqlValue* v = value(name);
  if (v == nullptr || (v->kind != SqlValue::Kind::Text && v->kind != SqlValue::Kind::Blob) ||
      v->bytes.empty()) {
    return std::nullopt;
  }
  return v->bytes;
}

const SqlValue* RowValues::value(std::string_view name) const {
  const auto c = column(name);
  return c ? &row_->values[*c] : nullptr;
}

std::optional<std::size_t> RowValues::column(std::string_view name) const {
  for (std::size_t i = 0; i < table_->columns.size() && i < row_->values.size(); ++i) {
    if (sameTextIgnoringCase(table_->columns[i].name, name)) return i;
  }
  return std::nullopt;
}

std::vector<RowValues> rowsOf(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                              std::initializer_list<std::string_view> names) {
  std::vector<RowValues> out;
  for (const std::string_view name : names) {
    const TableDefinition* table = schema.table(name);
    if (table == nullptr) continue;
    for (const CarvedRow& row : rows) {
      if (sameTextIgnoringCase(row.table, table->name)) out.emplace_back(*table, row);
    }
  }
  return out;
}

}  // namespace carve
