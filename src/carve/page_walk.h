// The frame every deleted-record carver shares: a database's private copy held as an image,
// with its page size and page count.
//
// The carvers read only the private copy that DatabasePreparer::commitDB() makes, never the
// backup folder (the scan's carve steps in app/carve_steps.h open it). A carver typically
// does:
//
//   for (std::int64_t k = db.pageCount; k >= 1; --k) {
//     const std::int64_t page = db.pageOffset(k);
//     if (carve::getPageType(db.image, page) != 1) continue;
//     const std::int64_t first = db.firstCellOffset(page);
//     ...
//   }
//
// Pages are numbered from 0 (the page holding the database header) and page k starts at
// k * pageSize. pageCount is the file size divided by the page size, rounded down; it is 0
// when the page size is 0 or the file is smaller than one page, so no page is walked and
// nothing divides by zero. Reading past the last whole page gives zero bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "carve/database_image.h"
#include "extract/record_origin.h"

struct CarveDatabase {
  DatabaseImage image;
  std::int64_t pageSize = 0;
  std::int64_t pageCount = 0;
  // The database's file name as the device names it ("sms.db"), which the carved records give
  // as their origin; "" when the image is not of a named database.
  std::string fileName;

  // Describes an image already in memory (tests, fuzzing): the page size from offset 16 and
  // the page count from the image's size.
  static CarveDatabase fromImage(DatabaseImage image);

  std::int64_t pageOffset(std::int64_t index) const { return index * pageSize; }
  // The page's first cell: the page offset plus the first entry of its cell pointer array
  // (the 16-bit big-endian number at page offset + 8). The cell may lie outside the page
  // or the file; every read there is safe and gives zero bytes past the end.
  std::int64_t firstCellOffset(std::int64_t pageOffset) const;
  // True when the header's write version (offset 18) says write-ahead logging.
  bool isWalFile() const;
  // The origin of a record found at file offset `offset` in `place`: this database, the page
  // that holds the offset as SQLite numbers pages (page index + 1) and the offset.
  RecordOrigin originAt(std::int64_t offset, RecordOrigin::Place place) const;
  // The same for a record a signature matched at `offset`: the place "record signature".
  RecordOrigin signatureOrigin(std::int64_t offset) const {
    return originAt(offset, RecordOrigin::Place::RecordSignature);
  }
};

// The page size of a database header: the 16-bit big-endian number at offset 16. The file
// format stores 65536 as 1, which is read as 65536; 0 stays 0 (no pages).
std::int64_t carvePageSize(const DatabaseImage& image);
