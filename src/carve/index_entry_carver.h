// Freed entries of text indexes: the text of a deleted row that survives only in an index.
//
// An index on one TEXT column of a table ("CREATE INDEX autocomplete_index ON bookmarks (url)")
// keeps, per row, a record of that column's value and the row's rowid. When the row is
// deleted its index entry is freed too, and may outlive the row's own cell. On the leaf pages
// of such an index, as the database now stands, each freeblock is read as freed entries: the
// freeblock header took the entry's first four bytes (its payload length, header length and
// serial types), so the layout is rebuilt from where the entry ends. A freed entry merged into
// a freeblock behind it left that freeblock's old header where it began; an old header whose
// size reaches the end of the freeblock marks where the entry before it ended.
//
// An entry is kept only when exactly one layout reads it: a text of three bytes or more,
// valid UTF-8 without control bytes, every serial type byte that survived the header agreeing,
// and a rowid that is no live row of the table and no larger than twice the largest rowid the
// table holds, plus 64 (a deleted row's rowid is near the live ones). Each kept entry is a row
// of the table with that column and the rowid alias set and the other columns NULL.
#pragma once

#include <functional>
#include <vector>

#include "carve/carve_sources.h"
#include "carve/database_map.h"
#include "carve/schema_carver.h"
#include "carve/table_schema.h"

namespace carve {

// The freed entries of the indexes of `schema` on one TEXT column, on the page versions
// `isLatest` says are the pages as the database now stands; `map` of that state.
std::vector<CarvedRow> carveIndexEntries(const CarveSources& sources, const TableSchema& schema,
                                         const DatabaseMap& map,
                                         const std::function<bool(const PageVersion&)>& isLatest);

}  // namespace carve
