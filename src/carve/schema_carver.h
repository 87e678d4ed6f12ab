// A carver that knows the tables: it reads every place of a database, its log and its journal
// where a freed record can survive, and keeps each record that fits a table of the schema.
//
// Places, for each version of each page (carve_sources.h):
//  - a live cell of an older version (a log frame, the journal, or the database file under
//    a log) whose row is gone from the newest state or differs there: kLogFrame, kJournal,
//    kLiveOldVersion (the database file);
//  - a freeblock of a table leaf page. Freeing a cell writes the freeblock header (next
//    freeblock, size) over its first four bytes, which held the payload length, the rowid and
//    the start of the record header; the header's start is rebuilt from the schema (header
//    length and the first serial types guessed from the column count, then the whole record
//    validated). The rest of a freeblock is read for whole cells that were freed beside it;
//  - the unallocated gap between the cell pointer array and the cell content, of table
//    leaves and also of interior and index pages (a leaf that became an interior page keeps
//    its old cells there): whole cells, and cells whose start a freeblock header overwrote.
//    In an index leaf's gap the stale pointers past its cell pointer array and the old cells
//    of its own index (index_cell_shape.h) are passed over: no cell lies whole inside them;
//  - freelist trunk and leaf pages (walked bounded and cycle-safe) and every page no b-tree
//    of the newest state reaches or that lies past the header's page count: whole cells, as a
//    table leaf's cells when the page still has its header, else at every offset;
//  - overflow chains of a cell found in any of these, followed while their pages are intact
//    (bounded, cycle-safe): the record is marked kOverflow and keeps where its cell was;
//  - freeblocks of the leaf pages of indexes on one TEXT column, on the pages as the database
//    now stands (index_entry_carver.h): a text no record of its table holds is kept as a row
//    of that table with the text and its rowid alone, in place kFreeblock.
//
// A record is kept when it fits a table (record_fit.h): as many serial types as the table has
// columns or fewer (columns added later by ALTER TABLE are missing from old records), each
// serial type one the column's affinity stores, the rowid alias column NULL, text valid UTF-8,
// dates plausible in columns named as dates, and every byte within its page (or chain). On a
// page of a table's b-tree only that table is tried; a page freed from a b-tree is taken to
// hold the table most of its old cells fit; elsewhere (interior and index pages' gaps, pages
// without a header) a record goes to the table with the closest column count and must also
// hold a text of three bytes or more. A rebuilt record start must end where its freeblock
// ends, or agree with a surviving header length, or have eight columns or more that fit, and
// also hold such a text. Whole cells must have a rowid of 1 or more and a payload length that
// is their record's header and bodies exactly. A copy of a live row (a
// cell identical to the live row of its rowid, or a record without rowid whose values equal
// a live row's) is no deleted record and is left out. Tables the format keeps for itself
// (sqlite_*) and WITHOUT ROWID tables (whose rows lie in index pages) are not carved; tables
// of three columns or fewer, or with mostly untyped columns (which fit almost any bytes), only
// on their own pages.
//
// Repeats: the same record (table and values, the rowid column left out since a freeblock
// loses it) found in several places is kept once, at the first place in this order: the
// database file (page order), then the log's frames in log order (so the earliest commit that
// still holds it), then the journal; when the kept copy lost its rowid and a later one has it,
// the kept copy takes it. Distinct versions of a row (other values) are all kept, and so are
// equal values under different rowids. The rowid alias column holds the rowid where kept.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "carve/carve_sources.h"
#include "carve/sqlite_values.h"
#include "carve/table_schema.h"

namespace carve {

struct CarvedRecordPlace {
  enum Kind {
    kFreeblock,       // in a freeblock of a b-tree page
    kUnallocated,     // in the gap between the cell pointer array and the cell content
    kFreelist,        // on a freelist trunk or leaf page
    kBeyondBtree,     // on a page no b-tree reaches, or past the header's page count
    kOverflow,        // its payload continued on overflow pages (see cellPlace)
    kLogFrame,        // a live cell of a log frame whose row is gone or changed since
    kJournal,         // a live cell of a journal page whose row is gone or changed since
    kLiveOldVersion,  // a live cell of the database file whose row the log removed or changed
  };
};

struct CarvedRow {
  std::string table;                  // the schema table it fits
  std::optional<std::int64_t> rowid;  // when the place keeps it
  SqlValues values;                   // one per column in schema order (missing: NULL)
  std::string file;                   // "sms.db", "sms.db-wal", "sms.db-journal"
  std::int64_t page = 0;              // page number as SQLite counts (1-based)
  std::int64_t offset = 0;            // byte offset of the record (its cell) in that file
  CarvedRecordPlace::Kind place = CarvedRecordPlace::kFreeblock;
  // For kOverflow: where the cell with the payload's first part was.
  CarvedRecordPlace::Kind cellPlace = CarvedRecordPlace::kFreeblock;
  std::int64_t logFrame = 0, logCommit = 0;  // for records in the log
  bool badChecksum = false;                  // the frame is past a bad salt or checksum
  int storedColumns = 0;                     // serial types the record has (the rest missing)
  bool headerRebuilt = false;                // its header's start was guessed (freeblocks)
  // The bytes [offset, offset + length) its cell's part on the page takes, and whether that
  // page version is the page as the database now stands (the file's page, or the newest
  // committed frame of it in the log): then a reader of the current database finds the same
  // bytes on the same page, at offset - the page's start.
  std::int64_t length = 0;
  std::int64_t pageStart = 0;  // where the page version begins in `file`
  bool newestPage = false;
  // The other places on the pages as the database now stands where the same record was found
  // and not kept again (see Repeats below): a reader of the current database finds it there
  // too.
  struct Span {
    std::int64_t page = 0;
    std::int64_t begin = 0, end = 0;  // within the page
  };
  std::vector<Span> repeatsOnNewestPages;
};

struct CarveLimits {
  std::int64_t maxPageVersions = 2'000'000;   // page versions looked at
  std::int64_t maxFreelistPages = 1'000'000;  // freelist pages followed
  std::int64_t maxOverflowPages = 4096;       // overflow pages per record
  int maxBtreeDepth = 20;
  std::int64_t maxRows = 1'000'000;  // records kept
  // Page versions carved at once, on all threads, before their records are collected and
  // what they showed of the gaps of interior and index pages is shared.
  std::int64_t batch = 4096;
};

// The cells of the tables' b-trees as the database now stands: page -> the [begin, end) of
// each cell within the page and its table (index into the schema's tables), by begin.
struct LiveCell {
  std::int64_t begin = 0, end = 0;
  int table = -1;
};
using LiveCellSpans = std::unordered_map<std::int64_t, std::vector<LiveCell>>;

// The records; with `liveCells`, also where the live cells lie. The page versions are carved
// on as many threads as the machine runs at once (up to eight); the rows and their order are
// those one thread would make.
std::vector<CarvedRow> carveTables(const CarveSources& sources, const TableSchema& schema,
                                   const CarveLimits& limits = {},
                                   LiveCellSpans* liveCells = nullptr);

}  // namespace carve
