#include "carve/table_schema.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "carve/btree_cells.h"
#include "carve/record_format.h"

namespace carve {

namespace {

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// ---- Tokens of an SQL text ----------------------------------------------------------------

struct Token {
  enum Kind { Word, Quoted, String, Punct } kind = Word;
  std::string text;  // a quoted name without its quotes
  bool is(std::string_view keyword) const { return kind == Word && upper(text) == keyword; }
  bool punct(char c) const { return kind == Punct && text.size() == 1 && text[0] == c; }
};

// Splits `sql` into tokens; comments and blanks are dropped. An unterminated quote or
// comment ends the text.
std::vector<Token> tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  const std::size_t n = sql.size();
  while (i < n) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      while (i < n && sql[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      const std::size_t close = sql.find("*/", i + 2);
      i = close == std::string_view::npos ? n : close + 2;
    } else if (c == '"' || c == '`' || c == '\'' || c == '[') {
      const char end = c == '[' ? ']' : c;
      Token token{c == '\'' ? Token::String : Token::Quoted, {}};
      ++i;
      while (i < n) {
        if (sql[i] == end) {
          if (end != ']' && i + 1 < n && sql[i + 1] == end) {
            token.text += end;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        token.text += sql[i++];
      }
      tokens.push_back(std::move(token));
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
               static_cast<unsigned char>(c) >= 0x80) {
      const std::size_t start = i;
      while (i < n && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_' ||
                       sql[i] == '$' || static_cast<unsigned char>(sql[i]) >= 0x80)) {
        ++i;
      }
      tokens.push_back({Token::Word, std::string(sql.substr(start, i - start))});
    } else {
      tokens.push_back({Token::Punct, std::string(1, c)});
      ++i;
    }
  }
  return tokens;
}

bool isName(const Token& token) {
  return token.kind == Token::Word || token.kind == Token::Quoted || token.kind == Token::String;
}

bool startsConstraint(const Token& token) {
  static const char* const kWords[] = {"CONSTRAINT", "PRIMARY",   "NOT",     "NULL",
                                       "UNIQUE",     "CHECK",     "DEFAULT", "COLLATE",
                                       "REFERENCES", "GENERATED", "AS"};
  if (token.kind != Token::Word) return false;
  const std::string word = upper(token.text);
  for (const char* k : kWords) {
    if (word == k) return true;
  }
  return false;
}

bool startsTableConstraint(const Token& token) {
  return token.is("CONSTRAINT") || token.is("PRIMARY") || token.is("UNIQUE") || token.is("CHECK") ||
         token.is("FOREIGN");
}

// The top-level items between the parentheses that begin at `open`, and the index after
// the closing one; none when it is not closed.
std::optional<std::pair<std::vector<std::vector<Token>>, std::size_t>> splitItems(
    const std::vector<Token>& tokens, std::size_t open) {
  std::vector<std::vector<Token>> items(1);
  int depth = 0;
  for (std::size_t i = open; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (token.punct('(')) {
      if (++depth == 1) continue;
    } else if (token.punct(')')) {
      if (--depth == 0) return std::make_pair(std::move(items), i + 1);
    } else if (token.punct(',') && depth == 1) {
      items.emplace_back();
      continue;
    }
    items.back().push_back(token);
  }
  return std::nullopt;
}

// Names listed in the parentheses that follow `from` in `item` ("PRIMARY KEY (a, b)").
std::vector<std::string> listedNames(const std::vector<Token>& item, std::size_t from) {
  std::vector<std::string> names;
  int depth = 0;
  bool expectName = false;
  for (std::size_t i = from; i < item.size(); ++i) {
    if (item[i].punct('(')) {
      if (++depth == 1) expectName = true;
    } else if (item[i].punct(')')) {
      if (--depth == 0) break;
    } else if (depth == 1 && item[i].punct(',')) {
      expectName = true;
    } else if (depth == 1 && expectName && isName(item[i])) {
      names.push_back(item[i].text);
      expectName = false;
    }
  }
  return names;
}

struct ParsedColumn {
  TableColumn column;
  bool primaryKey = false;
  bool descending = false;
  bool virtualGenerated = false;
};

std::optional<ParsedColumn> parseColumn(const std::vector<Token>& item) {
  if (item.empty() || !isName(item[0])) return std::nullopt;
  ParsedColumn parsed;
  parsed.column.name = item[0].text;
  std::size_t i = 1;
  std::string type;
  int depth = 0;
  for (; i < item.size(); ++i) {
    const Token& token = item[i];
    if (depth == 0 && startsConstraint(token)) break;
    if (token.punct('(')) ++depth;
    if (token.punct(')')) --depth;
    if (!type.empty() && token.kind == Token::Word && type.back() != '(') type += ' ';
    type += token.text;
  }
  parsed.column.declaredType = type;
  parsed.column.affinity = affinityOf(type);
  bool generated = false, stored = false;
  for (; i < item.size(); ++i) {
    const Token& token = item[i];
    if (token.is("PRIMARY")) {
      parsed.primaryKey = true;
      if (i + 2 < item.size() && item[i + 2].is("DESC")) parsed.descending = true;
    }
    if (token.is("GENERATED") || token.is("AS")) generated = true;
    if (token.is("STORED")) stored = true;
  }
  parsed.virtualGenerated = generated && !stored;
  return parsed;
}

// ---- Walking the schema b-tree ------------------------------------------------------------

struct SchemaRow {
  std::string type, name, sql;
  std::int64_t rootPage = 0;
};

void readSchemaRows(const DatabasePages& pages, std::int64_t page, int depth,
                    const SchemaWalkLimits& limits, std::set<std::int64_t>& visited,
                    std::vector<SchemaRow>& rows) {
  if (depth > limits.maxDepth || page < 1 ||
      static_cast<std::int64_t>(visited.size()) >= limits.maxPages ||
      !visited.insert(page).second) {
    return;
  }
  const auto place = pages.page(page);
  if (!place) return;
  const DatabaseImage& image = *place->image;
  const std::int64_t pageOffset = place->offset;
  const PageGeometry& geometry = pages.geometry();
  const auto header = readPageHeader(image, pageOffset, page == 1 ? 100 : 0, geometry);
  if (!header) return;
  const std::int64_t pageEnd = pageOffset + geometry.usable;
  if (header->kind == kTableInterior) {
    for (std::int64_t i = 0; i < header->cellCount; ++i) {
      const std::int64_t cell = pageOffset + cellPointer(image, pageOffset, *header, i);
      if (cell + 4 > pageEnd) continue;
      readSchemaRows(pages, read32(image, cell), depth + 1, limits, visited, rows);
    }
    readSchemaRows(pages, header->rightChild, depth + 1, limits, visited, rows);
    return;
  }
  if (header->kind != kTableLeaf) return;
  const PageLookup lookup = pages.lookup();
  for (std::int64_t i = 0; i < header->cellCount; ++i) {
    const std::int64_t at = pageOffset + cellPointer(image, pageOffset, *header, i);
    const auto cell = tableCellAt(image, at, pageEnd, geometry);
    if (!cell) continue;
    const auto payload = assemblePayload(image, *cell, geometry, lookup, limits.maxPages);
    if (!payload) continue;
    const auto record = readRecordHeader(payload->data(), payload->size(), 16);
    if (!record || record->serialTypes.size() < 5) continue;
    std::vector<SqlValue> values;
    std::int64_t body = record->headerLength;
    for (std::int64_t type : record->serialTypes) {
      values.push_back(decodeValue(type, payload->data() + body));
      body += serialBodyLength(type);
    }
    SchemaRow row;
    row.type = values[0].bytes();
    row.name = values[1].bytes();
    if (values[3].kind == SqlValue::Kind::Integer) row.rootPage = values[3].integer;
    row.sql = values[4].bytes();
    rows.push_back(std::move(row));
  }
}

}  // namespace

Affinity affinityOf(std::string_view declaredType) {
  const std::string type = upper(declaredType);
  if (type.find("INT") != std::string::npos) return Affinity::Integer;
  if (type.find("CHAR") != std::string::npos || type.find("CLOB") != std::string::npos ||
      type.find("TEXT") != std::string::npos) {
    return Affinity::Text;
  }
  if (type.find("BLOB") != std::string::npos || type.empty()) return Affinity::Blob;
  if (type.find("REAL") != std::string::npos || type.find("FLOA") != std::string::npos ||
      type.find("DOUB") != std::string::npos) {
    return Affinity::Real;
  }
  return Affinity::Numeric;
}

int TableDefinition::rowidAliasColumn() const {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].rowidAlias) return static_cast<int>(i);
  }
  return -1;
}

std::optional<TableDefinition> parseCreateTable(std::string_view sql) {
  const std::vector<Token> tokens = tokenize(sql);
  std::size_t i = 0;
  if (i >= tokens.size() || !tokens[i].is("CREATE")) return std::nullopt;
  ++i;
  if (i < tokens.size() && (tokens[i].is("TEMP") || tokens[i].is("TEMPORARY"))) ++i;
  if (i >= tokens.size() || !tokens[i].is("TABLE")) return std::nullopt;
  ++i;
  if (i + 2 < tokens.size() && tokens[i].is("IF") && tokens[i + 1].is("NOT") &&
      tokens[i + 2].is("EXISTS")) {
    i += 3;
  }
  if (i >= tokens.size() || !isName(tokens[i])) return std::nullopt;
  TableDefinition table;
  table.name = tokens[i++].text;
  if (i + 1 < tokens.size() && tokens[i].punct('.') && isName(tokens[i + 1])) {
    table.name = tokens[i + 1].text;
    i += 2;
  }
  if (i >= tokens.size() || !tokens[i].punct('(')) return std::nullopt;
  auto split = splitItems(tokens, i);
  if (!split) return std::nullopt;
  for (std::size_t k = split->second; k < tokens.size(); ++k) {
    if (tokens[k].is("ROWID") && k > 0 && tokens[k - 1].is("WITHOUT")) table.withoutRowid = true;
  }
  std::vector<ParsedColumn> columns;
  std::vector<std::string> tablePrimaryKey;
  for (const auto& item : split->first) {
    if (item.empty()) return std::nullopt;
    if (item[0].kind == Token::Word && startsTableConstraint(item[0])) {
      for (std::size_t k = 0; k + 1 < item.size(); ++k) {
        if (item[k].is("PRIMARY") && item[k + 1].is("KEY")) tablePrimaryKey = listedNames(item, k);
      }
      continue;
    }
    auto column = parseColumn(item);
    if (!column) return std::nullopt;
    columns.push_back(std::move(*column));
  }
  if (columns.empty()) return std::nullopt;
  int primaryKeys = 0;
  for (const auto& c : columns) primaryKeys += c.primaryKey ? 1 : 0;
  for (auto& c : columns) {
    bool key = c.primaryKey && primaryKeys == 1 && !c.descending;
    if (tablePrimaryKey.size() == 1 && upper(tablePrimaryKey[0]) == upper(c.column.name)) {
      key = true;
    }
    c.column.rowidAlias = key && !table.withoutRowid && upper(c.column.declaredType) == "INTEGER";
    if (!c.virtualGenerated) table.columns.push_back(std::move(c.column));
  }
  table.sql = std::string(sql);
  return table;
}

std::optional<IndexDefinition> parseCreateIndex(std::string_view sql) {
  const std::vector<Token> tokens = tokenize(sql);
  std::size_t i = 0;
  auto at = [&](std::string_view keyword) { return i < tokens.size() && tokens[i].is(keyword); };
  if (!at("CREATE")) return std::nullopt;
  ++i;
  if (at("UNIQUE")) ++i;
  if (!at("INDEX")) return std::nullopt;
  ++i;
  if (i + 2 < tokens.size() && tokens[i].is("IF") && tokens[i + 1].is("NOT") &&
      tokens[i + 2].is("EXISTS")) {
    i += 3;
  }
  IndexDefinition index;
  if (i >= tokens.size() || !isName(tokens[i])) return std::nullopt;
  index.name = tokens[i++].text;
  if (i + 1 < tokens.size() && tokens[i].punct('.') && isName(tokens[i + 1])) {
    index.name = tokens[i + 1].text;
    i += 2;
  }
  if (!at("ON")) return std::nullopt;
  ++i;
  if (i >= tokens.size() || !isName(tokens[i])) return std::nullopt;
  index.table = tokens[i++].text;
  if (i >= tokens.size() || !tokens[i].punct('(')) return std::nullopt;
  ++i;
  // Column names, each with an optional collation and order; anything else is an expression.
  while (i < tokens.size()) {
    if (!isName(tokens[i])) return std::nullopt;
    index.columns.push_back(tokens[i++].text);
    if (at("COLLATE")) {
      i += 2;
    }
    if (at("ASC") || at("DESC")) ++i;
    if (i < tokens.size() && tokens[i].punct(',')) {
      ++i;
      continue;
    }
    if (i < tokens.size() && tokens[i].punct(')')) return index;
    return std::nullopt;
  }
  return std::nullopt;
}

const TableDefinition* TableSchema::table(std::string_view name) const {
  for (const auto& t : tables) {
    if (upper(t.name) == upper(name)) return &t;
  }
  return nullptr;
}

const TableDefinition* TableSchema::tableWithRoot(std::int64_t page) const {
  if (page <= 0) return nullptr;
  for (const auto& t : tables) {
    if (t.rootPage == page) return &t;
  }
  return nullptr;
}

TableSchema readTableSchema(const DatabaseImage& image, const SchemaWalkLimits& limits) {
  return readTableSchema(DatabasePages(image), limits);
}

TableSchema readTableSchema(const DatabasePages& pages, const SchemaWalkLimits& limits) {
  TableSchema schema;
  if (!pages.geometry().valid()) return schema;
  std::set<std::int64_t> visited;
  std::vector<SchemaRow> rows;
  readSchemaRows(pages, 1, 0, limits, visited, rows);
  for (const auto& row : rows) {
    std::optional<TableDefinition> table;
    if (row.type == "table") table = parseCreateTable(row.sql);
    if (table) {
      table->name = row.name.empty() ? table->name : row.name;
      table->rootPage = row.rootPage;
      schema.tables.push_back(std::move(*table));
    } else if (row.rootPage > 0) {
      schema.otherRootPages.push_back(row.rootPage);
      if (row.type != "index") continue;
      if (auto index = parseCreateIndex(row.sql)) {
        index->rootPage = row.rootPage;
        schema.indexes.push_back(std::move(*index));
      }
    }
  }
  return schema;
}

}  // namespace carve
