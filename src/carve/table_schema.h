// The tables of a database as its schema table (sqlite_master) describes them, read from the
// raw pages: what a carved record must fit.
//
// readTableSchema() walks the schema b-tree from page 1 (interior and leaf table pages; every
// page visited once, the depth bounded) and parses each "CREATE TABLE" text into columns with
// their declared type and SQLite's type affinity, the INTEGER PRIMARY KEY column that stands
// for the rowid, and the WITHOUT ROWID flag. The parser is tolerant (quoted names, table and
// column constraints, nested parentheses, comments); a text it cannot read is left out, never
// an error. Each table and index keeps its root page, so a page of a known b-tree can be
// attributed to its table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carve/btree_cells.h"
#include "carve/database_image.h"

namespace carve {

// SQLite's column affinity, from the declared type (SQLite's five rules, in order).
enum class Affinity { Integer, Text, Blob, Real, Numeric };
Affinity affinityOf(std::string_view declaredType);

struct TableColumn {
  std::string name;
  std::string declaredType;  // as written, "" when none
  Affinity affinity = Affinity::Blob;
  bool rowidAlias = false;  // INTEGER PRIMARY KEY of a rowid table: stored as NULL
};

struct TableDefinition {
  std::string name;
  std::vector<TableColumn> columns;
  std::int64_t rootPage = 0;  // 0 when unknown
  bool withoutRowid = false;
  std::string sql;  // the CREATE TABLE text

  // The index of the rowid alias column, or -1.
  int rowidAliasColumn() const;
};

// Parses one CREATE TABLE text; none when it is no CREATE TABLE or cannot be read (a CREATE
// VIRTUAL TABLE and a CREATE TABLE ... AS SELECT have no columns to carve and give none).
std::optional<TableDefinition> parseCreateTable(std::string_view sql);

// An index on plain columns of a table ("CREATE INDEX i ON t (a COLLATE NOCASE, b DESC)"):
// its entries are records of those columns' values followed by the row's rowid.
struct IndexDefinition {
  std::string name;
  std::string table;
  std::vector<std::string> columns;
  std::int64_t rootPage = 0;
};

// Parses one CREATE INDEX text; none when it is none, or indexes an expression.
std::optional<IndexDefinition> parseCreateIndex(std::string_view sql);

struct TableSchema {
  std::vector<TableDefinition> tables;
  std::vector<IndexDefinition> indexes;  // those whose text parsed (also in otherRootPages)
  // Root pages of the indexes (and of tables whose text did not parse): b-trees whose pages
  // hold no record of a table above.
  std::vector<std::int64_t> otherRootPages;

  const TableDefinition* table(std::string_view name) const;
  // The table whose b-tree has its root at `page`, or null.
  const TableDefinition* tableWithRoot(std::int64_t page) const;
};

// Bounds of the schema walk.
struct SchemaWalkLimits {
  int maxDepth = 20;
  std::int64_t maxPages = 10000;
};

// The schema of the database held in `image` (pages numbered from 1 at offset 0, the page
// size from the header). An image that is no database gives an empty schema.
TableSchema readTableSchema(const DatabaseImage& image, const SchemaWalkLimits& limits = {});
// The same of the pages of one state of a database (the newest, a log laid over the file).
TableSchema readTableSchema(const DatabasePages& pages, const SchemaWalkLimits& limits = {});

}  // namespace carve
