#include "carve/record_fit.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

namespace carve {

namespace {

bool endsWith(const std::string& lower, std::string_view suffix) {
  return lower.size() >= suffix.size() &&
         lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool looksLikeDate(const std::string& name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return endsWith(lower, "date") || endsWith(lower, "time") || endsWith(lower, "timestamp");
}

bool plausibleMagnitude(double v) {
  const double a = std::fabs(v);
  // Seconds since 1970 or 2001 from about 2004 to 2100, and the same in ms, us and ns.
  for (double scale : {1.0, 1e3, 1e6, 1e9}) {
    if (a >= 1e8 * scale && a <= 4.2e9 * scale) return true;
  }
  return false;
}

// A blob whose bytes are a text: valid UTF-8 of three bytes or more without control
// characters.
bool readsAsText(const std::uint8_t* bytes, std::size_t n) {
  if (n < 3 || !validUtf8(bytes, n)) return false;
  return std::none_of(bytes, bytes + n, [](std::uint8_t c) { return c < 0x20; });
}

bool hasColumn(const TableDefinition& table, std::string_view name) {
  return std::any_of(table.columns.begin(), table.columns.end(),
                     [name](const TableColumn& c) { return c.name == name; });
}

}  // namespace

bool plausibleDate(const SqlValue& value) {
  if (value.kind == SqlValue::Kind::Integer) {
    return value.integer == 0 || plausibleMagnitude(static_cast<double>(value.integer));
  }
  if (value.kind == SqlValue::Kind::Real) {
    return value.real == 0 || (std::isfinite(value.real) && plausibleMagnitude(value.real));
  }
  return true;
}

bool validUtf8(const std::uint8_t* bytes, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    // Eight ASCII bytes, none of them zero, at a time: most texts are all of them.
    if (n - i >= 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes + i, 8);
      constexpr std::uint64_t kLow = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
      if (((word | ((word - kLow) & ~word)) & kHigh) == 0) {
        i += 8;
        continue;
      }
    }
    const std::uint8_t c = bytes[i];
    if (c == 0) return false;
    if (c < 0x80) {
      ++i;
      continue;
    }
    int more = 0;
    std::uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      more = 1;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      more = 2;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      more = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(more) >= n) return false;
    for (int k = 1; k <= more; ++k) {
      const std::uint8_t d = bytes[i + static_cast<std::size_t>(k)];
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    if ((more == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (more == 3 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
    i += static_cast<std::size_t>(more) + 1;
  }
  return true;
}

TableFitter::TableFitter(const TableSchema& schema) : schema_(schema) {
  for (std::size_t t = 0; t < schema.tables.size(); ++t) {
    const TableDefinition& table = schema.tables[t];
    std::size_t untyped = 0;
    std::vector<bool> dates;
    for (const auto& column : table.columns) {
      untyped += column.declaredType.empty() ? 1 : 0;
      dates.push_back(looksLikeDate(column.name));
    }
    weak_.push_back(table.columns.size() <= 3 || untyped * 2 >= table.columns.size());
    textBlobs_.push_back(hasColumn(table, "Z_PK") && hasColumn(table, "Z_ENT"));
    dateColumns_.push_back(std::move(dates));
    // One serial type of each kind stands for the kind: serialTypeFits() tells them alike.
    constexpr std::int64_t kOfKind[] = {0, 1, 12, 13, 14};
    std::vector<std::uint8_t> masks;
    for (const auto& column : table.columns) {
      std::uint8_t mask = 0;
      for (int kind = 0; kind < 5; ++kind) {
        const std::int64_t type = kOfKind[kind];
        const bool textBlob =
            textBlobs_.back() && column.affinity == Affinity::Text && type >= 12 && type % 2 == 0;
        if (serialTypeFits(column, type) || textBlob) mask |= static_cast<std::uint8_t>(1 << kind);
      }
      masks.push_back(mask);
    }
    typeMasks_.push_back(std::move(masks));
    std::string lower(table.name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.rfind("sqlite_", 0) == 0 || table.withoutRowid) continue;
    carvable_.push_back(static_cast<int>(t));
    for (std::size_t i = 0; i < leadingMasks_.size() && i < table.columns.size(); ++i) {
      leadingMasks_[i] |= typeMasks_.back()[i];
    }
    maxColumns_ = std::max(maxColumns_, table.columns.size());
  }
}

std::size_t TableFitter::minColumns(int table) const {
  const std::size_t n = schema_.tables[static_cast<std::size_t>(table)].columns.size();
  return std::max<std::size_t>(std::min<std::size_t>(n, 2), (n + 1) / 2);
}

bool TableFitter::fitsTable(int table, const RecordHeader& header, const std::uint8_t* body,
                            std::size_t bodyLength) const {
  const TableDefinition& definition = schema_.tables[static_cast<std::size_t>(table)];
  const std::size_t m = header.serialTypes.size();
  const std::size_t n = definition.columns.size();
  if (m > n || m < minColumns(table)) return false;
  if (header.bodyLength > static_cast<std::int64_t>(bodyLength)) return false;
  for (std::size_t i = 0; i < m; ++i) {
    if (!typeFits(table, i, header.serialTypes[i])) return false;
  }
  // Each value is checked where it lies, without copying it out.
  const auto& dates = dateColumns_[static_cast<std::size_t>(table)];
  std::size_t at = 0;
  std::size_t filled = 0;
  for (std::size_t i = 0; i < m; ++i) {
    const std::int64_t type = header.serialTypes[i];
    const auto length = static_cast<std::size_t>(serialBodyLength(type));
    const std::uint8_t* bytes = body + at;
    at += length;
    if (type >= 13 && type % 2 == 1) {
      if (!validUtf8(bytes, length)) return false;
    } else if (type >= 12) {
      if (length > 0 && definition.columns[i].affinity == Affinity::Text &&
          !readsAsText(bytes, length)) {
        return false;
      }
    } else if (type != 0 && dates[i] && !plausibleDate(decodeValue(type, bytes))) {
      return false;
    }
    if (type != 0 && !definition.columns[i].rowidAlias) ++filled;
  }
  return filled >= (n >= 4 ? 2u : 1u);
}

std::optional<SqlValues> TableFitter::fitTable(int table, const RecordHeader& header,
                                               const std::uint8_t* body, std::size_t bodyLength,
                                               const ArenaAllocator<SqlValue>& allocator) const {
  if (!fitsTable(table, header, body, bodyLength)) return std::nullopt;
  return valuesOf(table, header, body, allocator);
}

SqlValues TableFitter::valuesOf(int table, const RecordHeader& header, const std::uint8_t* body,
                                const ArenaAllocator<SqlValue>& allocator, bool borrow) const {
  const std::size_t m = header.serialTypes.size();
  const std::size_t n = schema_.tables[static_cast<std::size_t>(table)].columns.size();
  // Missing columns stay NULL.
  SqlValues values(std::max(n, m), allocator);
  std::size_t at = 0;
  for (std::size_t i = 0; i < m; ++i) {
    const std::int64_t type = header.serialTypes[i];
    decodeValueInto(type, body + at, values[i], allocator.arena().get(), borrow);
    at += static_cast<std::size_t>(serialBodyLength(type));
  }
  return values;
}

std::optional<int> TableFitter::fittingTable(const RecordHeader& header, const std::uint8_t* body,
                                             std::size_t bodyLength, int owner) const {
  if (owner >= 0 && static_cast<std::size_t>(owner) < schema_.tables.size()) {
    for (int t : carvable_) {
      if (t == owner && fitsTable(owner, header, body, bodyLength)) return owner;
    }
  }
  std::optional<int> best;
  std::size_t bestGap = 0;
  for (int t : carvable_) {
    if (t == owner || weak_[static_cast<std::size_t>(t)]) continue;
    const std::size_t n = schema_.tables[static_cast<std::size_t>(t)].columns.size();
    if (n < header.serialTypes.size()) continue;
    const std::size_t gap = n - header.serialTypes.size();
    if (best && gap >= bestGap) continue;
    if (fitsTable(t, header, body, bodyLength)) {
      best = t;
      bestGap = gap;
    }
  }
  return best;
}

}  // namespace carve
