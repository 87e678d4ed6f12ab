#include "carve/carved_row_values.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "base/ascii_case.h"

namespace carve {

namespace {

// Orders names by length, then by their letters made small: equal names (but for case) are
// neighbours, and most names are told apart by their length alone.
bool shorterOrBeforeIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() < b.size();
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = asciiLower(a[i]), y = asciiLower(b[i]);
    if (x != y) return x < y;
  }
  return false;
}

}  // namespace

ColumnNames::ColumnNames(const TableDefinition& table) : rowidAlias_(table.rowidAliasColumn()) {
  byName_.reserve(table.columns.size());
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    byName_.emplace_back(table.columns[i].name, i);
  }
  std::stable_sort(byName_.begin(), byName_.end(), [](const auto& a, const auto& b) {
    return shorterOrBeforeIgnoringCase(a.first, b.first);
  });
}

std::optional<std::size_t> ColumnNames::find(std::string_view name) const {
  const auto at = std::lower_bound(byName_.begin(), byName_.end(), name,
                                   [](const auto& entry, std::string_view n) {
                                     return shorterOrBeforeIgnoringCase(entry.first, n);
                                   });
  if (at == byName_.end() || !sameTextIgnoringCase(at->first, name)) return std::nullopt;
  return at->second;
}

std::optional<std::int64_t> RowValues::rowid() const {
  if (row_->rowid) return row_->rowid;
  const int alias = columns_->rowidAlias();
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
  const auto c = columns_->find(name);
  if (!c || *c >= row_->values.size()) return std::nullopt;
  return c;
}

std::vector<RowValues> rowsOf(const TableSchema& schema, const std::vector<CarvedRow>& rows,
                              std::initializer_list<std::string_view> names) {
  std::vector<RowValues> out;
  for (const std::string_view name : names) {
    const TableDefinition* table = schema.table(name);
    if (table == nullptr) continue;
    const auto columns = std::make_shared<const ColumnNames>(*table);
    for (const CarvedRow& row : rows) {
      if (sameTextIgnoringCase(row.table, table->name)) out.emplace_back(columns, row);
    }
  }
  return out;
}

}  // namespace carve
