// Tells a record signature carver's record that misreads bytes the schema-aware carver read
// otherwise.
//
// The schema-aware carver fits a record to the table that wrote it, column by column; a
// signature carver cuts fields where its patterns say. Where both found a record in the same
// bytes of the database as it now stands (the same page, the signature's offset within the
// bytes of the schema carver's cell) and the principal text differs (a title cut short, a
// number with the next field's bytes in it), the signature carver's record is a misreading:
// it is left out, and the schema carver's record of those bytes stands for it. A signature
// record whose text agrees is kept, since it may join more (a contact read with its numbers),
// and so is one where the schema carver found nothing or read no text. A signature record
// that lies in the bytes of a live cell is no deleted record whatever it reads: those bytes
// are a live row, which the live records show.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "carve/schema_carver.h"
#include "extract/record_origin.h"

namespace carve {

class SignatureRecordCheck {
 public:
  SignatureRecordCheck() = default;  // knows no places: misreads nothing
  // The places of `rows`, and of the live cells of the tables named `liveTables` (those the
  // category's records are rows of), on the pages as the database now stands; `pageSize` of
  // the database. A live cell of another table may well hold a deleted record's text (a
  // chat's last message), so only these tell a record to be live.
  SignatureRecordCheck(const std::vector<CarvedRow>& rows, const LiveCellSpans& liveCells,
                       const TableSchema& schema, const std::vector<std::string>& liveTables,
                       std::int64_t pageSize);

  // The schema carver's record made from the row at `origin` reads `principal`.
  void addText(const RecordOrigin& origin, std::string principal);

  // Whether a signature record found at `origin` (page and file offset in the database as it
  // now stands) reading `principal` lies in a live cell or misreads a place the schema carver
  // read otherwise.
  bool misreads(const RecordOrigin& origin, const std::string& principal) const;
  // Whether `origin` lies in the bytes of a live cell of the checked tables.
  bool inLiveCell(const RecordOrigin& origin) const;
  // Whether the schema carver's record at that place reads `principal` too: the two carvers
  // read the same record there.
  bool readsAlike(const RecordOrigin& origin, const std::string& principal) const;

 private:
  struct Span {
    std::int64_t begin = 0, end = 0;  // within the page
    std::string file;
    std::int64_t offset = 0;  // the row's offset in its file, as its record's origin says
  };
  std::int64_t pageSize_ = 0;
  std::unordered_map<std::int64_t, std::vector<Span>> spans_;  // page -> spans by begin
  LiveCellSpans liveCells_;

  // The schema carver's text read at the place of `origin`, or null.
  const std::string* textAt(const RecordOrigin& origin) const;
  std::map<std::pair<std::string, std::int64_t>, std::string> texts_;
};

}  // namespace carve
