#include "carve/carved_row_values.h"

#include <cmath>
#include <cstdint>

#include "base/ascii_case.h"

namespace carve {

namespace {

// A digest of a name with its ASCII capitals made small: names equal but for case agree.
std::size_t nameDigest(std::string_view name) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(asciiLower(c))) * 0x100000001B3ULL;
  }
  return static_cast<std::size_t>(hash ^ (hash >> 32));
}

}  // namespace

ColumnNames::ColumnNames(const TableDefinition& table) : rowidAlias_(table.rowidAliasColumn()) {
  std::size_t slots = 16;
  while (slots < 2 * table.columns.size()) slots *= 2;
  slots_.assign(slots, {});
  mask_ = slots - 1;
  for (std::size_t i = 0; i < table.columns.size(); ++i) {
    const std::string_view name = table.columns[i].name;
    if (name.empty()) continue;  // no column is asked for by an empty name
    for (std::size_t at = nameDigest(name) & mask_;; at = (at + 1) & mask_) {
      if (slots_[at].first.empty()) {
        slots_[at] = {name, i};
        break;
      }
      if (sameTextIgnoringCase(slots_[at].first, name)) break;  // the first column keeps it
    }
  }
}

std::optional<std::size_t> ColumnNames::find(std::string_view name) const {
  if (name.empty()) return std::nullopt;
  for (std::size_t at = nameDigest(name) & mask_;; at = (at + 1) & mask_) {
    if (slots_[at].first.empty()) return std::nullopt;
    if (sameTextIgnoringCase(slots_[at].first, name)) return slots_[at].second;
  }
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
  return integer(columns_->column(name));
}

std::optional<std::int64_t> RowValues::integer(Column column) const {
  const SqlValue* v = value(column);
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
  return text(columns_->column(name));
}

std::optional<std::string> RowValues::text(Column column) const {
  const SqlValue* v = value(column);
  if (v == nullptr || v->kind != SqlValue::Kind::Text || v->bytes().empty()) return std::nullopt;
  return std::string(v->bytes());
}

std::optional<std::string> RowValues::textOrBlob(std::string_view name) const {
  const SqlValue* v = value(name);
  if (v == nullptr || (v->kind != SqlValue::Kind::Text && v->kind != SqlValue::Kind::Blob) ||
      v->bytes().empty()) {
    return std::nullopt;
  }
  return std::string(v->bytes());
}

const SqlValue* RowValues::value(std::string_view name) const {
  return value(columns_->column(name));
}

const SqlValue* RowValues::value(Column column) const {
  if (!column.index || *column.index >= row_->values.size()) return nullptr;
  return &row_->values[*column.index];
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
