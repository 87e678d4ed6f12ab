#include "carve/note_page_carver.h"

#include <cstdint>
#include <vector>

#include "carve/candidate_scan.h"
#include "carve/carve_primitives.h"
#include "carve/note_record_layouts.h"
#include "carve/note_record_reader.h"
#include "carve/page_runs.h"

namespace {

using carve::bodyAt;
using carve::FieldBuffer;
using carve::isSmallInteger;
using carve::noteBeforeIOS7;
using carve::noteOfIOS7;
using carve::noteOfRollbackFile;
using carve::writesBodilessIntegers;

// The page test of a layout: the sliding test of family 6 (a run of three 0x01 bytes) on the
// `byteCount` bytes at `at` with windows of `window` characters. Where the file writes
// bodiless integers, three small integer columns in a row at any byte where a window can
// begin pass too.
bool pageTestPasses(const DatabaseImage& file, std::int64_t at, std::size_t byteCount,
                    std::size_t window, bool bodiless) {
  if (carve::subStringIsValidAt(file, at, byteCount, 6, window)) return true;
  if (!bodiless || at <= 0) return false;
  const auto starts = static_cast<std::int64_t>((2 * byteCount - window + 1) / 2);
  for (std::int64_t k = 0; k < starts; ++k) {
    if (isSmallInteger(file.at(at + k), true) && isSmallInteger(file.at(at + k + 1), true) &&
        isSmallInteger(file.at(at + k + 2), true)) {
      return true;
    }
  }
  return false;
}

// The page test of the body layout: the test above on the 6 bytes at `at`, or a body's
// entity, ZOPT and a two-byte or three-byte ZOWNER in a row at any of the first
// kOwnerRunStarts bytes. A page whose first cell is the body of a note from the 128th on
// begins with such a run, the owner id being a two-byte integer there and from the 32768th
// on a three-byte one.
//
// The first cell's payload length and rowid varints stand before the run, and `at` is 4
// bytes into the cell. A body of a note from about the 16384th on has a rowid of 16384 or
// more, a three-byte varint, so its run begins 2 to 4 bytes after `at` (payload length of
// one to three bytes): past the 6-byte windows when the payload length takes two bytes or
// more, and such pages were never searched. The run is therefore looked for over those
// starts too.
constexpr std::int64_t kOwnerRunStarts = 5;
bool bodyPageTestPasses(const DatabaseImage& file, std::int64_t at, bool bodiless) {
  constexpr std::size_t kBytes = 6;
  if (pageTestPasses(file, at, kBytes, kBytes, bodiless)) return true;
  if (at <= 0) return false;
  for (std::int64_t k = 0; k < kOwnerRunStarts; ++k) {
    if (file.at(at + k) != 0x01 || !isSmallInteger(file.at(at + k + 1), bodiless)) continue;
    const std::uint8_t owner = file.at(at + k + 2);
    if (owner == 0x02 || owner == 0x03) return true;
  }
  return false;
}

// ---- Signatures on a page's bytes --------------------------------------------------------
//
// `b` points at a candidate offset with at least kSpill readable bytes after it. The note
// signatures: after the entity column, five small integer columns and the 6-byte integer
// ZEXTERNALSERVERINTID (iOS 7 has a NULL ZEXTERNALSEQUENCENUMBER before it); the rollback
// layout also takes a two-byte integer in the fifth place. The body signature: the entity
// and ZOPT as small integers, ZOWNER as a small, two-byte or three-byte integer, then the
// content's serial type and a NULL column (CheckNoteBodyMark).
constexpr std::size_t kSpill = 8;

bool smallRun(const std::uint8_t* b, int from, int to, bool bodiless) {
  for (int k = from; k <= to; ++k) {
    if (!isSmallInteger(b[k], bodiless)) return false;
  }
  return true;
}
bool isNoteSignature(const std::uint8_t* b, bool bodiless) {
  return b[0] == 1 && smallRun(b, 1, 5, bodiless) && b[6] == 5;
}
bool isIOS7NoteSignature(const std::uint8_t* b, bool bodiless) {
  return b[0] == 1 && smallRun(b, 1, 5, bodiless) && b[6] == 0 && b[7] == 5;
}
bool isRollbackNoteSignature(const std::uint8_t* b, bool bodiless) {
  return isNoteSignature(b, bodiless) || (b[0] == 1 && smallRun(b, 1, 3, bodiless) && b[4] == 2 &&
                                          isSmallInteger(b[5], bodiless) && b[6] == 5);
}
// ZOWNER, the owning note's primary key, is an integer of one byte only up to 127: from the
// 128th note on it is a two-byte integer (serial type 2, 128 to 32767) and from the 32768th
// on a three-byte one (serial type 3, 32768 to 8388607), read as such by the body layout,
// whose data offsets then move by the extra body bytes.
bool isOwnerId(std::uint8_t type, bool bodiless) {
  return type == 0x02 || type == 0x03 || isSmallInteger(type, bodiless);
}
bool isBodySignature(const std::uint8_t* b, bool bodiless) {
  return b[0] == 1 && isSmallInteger(b[1], bodiless) && isOwnerId(b[2], bodiless) && b[3] >= 0x10 &&
         (b[4] == 0 || b[5] == 0);
}

// Carves the table leaf pages of one file. Each page is tested once for each kind of record
// and searched in one pass: a block prefilter (findNoteCandidates) hands on the offsets that
// begin with 0x01, a small integer column and a small, two-byte or three-byte integer column
// (every note and body signature does), and the signatures are tested on those straight from
// the page's bytes.
class NotePageCarver {
 public:
  NotePageCarver(const CarveDatabase& db, bool writeAhead, bool iOS7)
      : db_(db),
        file_(db.image),
        writeAhead_(writeAhead),
        iOS7_(iOS7),
        bodiless_(writesBodilessIntegers(db.image)),
        field_(static_cast<std::size_t>(db.pageSize)),
        scratch_(static_cast<std::size_t>(db.pageSize) + kSpill) {}

  // Appends the note records and body records of the table leaf pages among pages [first,
  // last) to the two lists.
  void carvePages(std::int64_t first, std::int64_t last, RecordList<MzNoteNode>& noteArray,
                  RecordList<MzNoteValueNode>& noteValueArray) {
    noteArray_ = &noteArray;
    noteValueArray_ = &noteValueArray;
    for (std::int64_t k = first; k < last; ++k) {
      const std::int64_t page = db_.pageOffset(k);
      if (carve::getPageType(db_.image, page) == 1) carve(page);
    }
  }

 private:
  void carve(std::int64_t page) {
    const std::int64_t firstCell = db_.firstCellOffset(page);
    const bool notes = writeAhead_ ? pageTestPasses(file_, firstCell + 4, 16, 16, bodiless_)
                                   : pageTestPasses(file_, firstCell + 4, 14, 14, bodiless_);
    const bool bodies = bodyPageTestPasses(file_, firstCell + 4, bodiless_);
    if (!notes && !bodies) return;
    const std::uint8_t* bytes = pageBytes(page);
    const auto size = static_cast<std::size_t>(db_.pageSize);
    carve::findNoteCandidates(bytes, size, size + kSpill, bodiless_, candidates_);
    const std::int64_t end = page + db_.pageSize;
    for (const std::uint32_t k : candidates_) {
      const std::uint8_t* b = bytes + k;
      const std::int64_t at = page + k;
      if (notes) carveNote(b, at, end);
      if (bodies && isBodySignature(b, bodiless_)) {
        if (auto body = bodyAt(file_, at, end, field_, bodiless_)) {
          body->origin = db_.signatureOrigin(at);
          noteValueArray_->push_back(std::move(body));
        }
      }
    }
  }

  void carveNote(const std::uint8_t* b, std::int64_t at, std::int64_t end) {
    if (!writeAhead_) {
      if (isRollbackNoteSignature(b, bodiless_)) {
        noteArray_->push_back(noteOfRollbackFile(file_, at, end, field_, bodiless_));
      }
      return;
    }
    const bool six = isNoteSignature(b, bodiless_);
    if (!iOS7_) {
      if (six) noteArray_->push_back(noteBeforeIOS7(file_, at, end, field_, bodiless_));
      return;
    }
    if (six || isIOS7NoteSignature(b, bodiless_)) {
      noteArray_->push_back(noteOfIOS7(file_, at, end, field_, bodiless_));
    }
  }

  // The page's bytes and kSpill more, zero past the end of the file.
  const std::uint8_t* pageBytes(std::int64_t page) {
    const std::int64_t needed = db_.pageSize + static_cast<std::int64_t>(kSpill);
    if (page >= 0 && page + needed <= file_.size()) return file_.data() + page;
    file_.copy(page, static_cast<std::size_t>(needed), scratch_.data());
    return scratch_.data();
  }

  const CarveDatabase& db_;
  const DatabaseImage& file_;
  bool writeAhead_;
  bool iOS7_;
  bool bodiless_;
  FieldBuffer field_;
  std::vector<std::uint8_t> scratch_;
  std::vector<std::uint32_t> candidates_;
  RecordList<MzNoteNode>* noteArray_ = nullptr;
  RecordList<MzNoteValueNode>* noteValueArray_ = nullptr;
};

}  // namespace

void carveDeletedNotePages(const CarveDatabase& db, bool writeAhead, bool iOS7,
                           RecordList<MzNoteNode>& noteArray,
                           RecordList<MzNoteValueNode>& noteValueArray, bool oneCarver) {
  if (db.pageSize <= 0) return;
  NotePageCarver own(db, writeAhead, iOS7);
  if (oneCarver || db.pageCount < carve::kPagesWorthASecondCarver) {
    own.carvePages(0, db.pageCount, noteArray, noteValueArray);
    return;
  }
  // A run's records are handed over as one piece and appended in page order.
  struct RunRecords {
    RecordList<MzNoteNode> notes;
    RecordList<MzNoteValueNode> bodies;
  };
  carve::carveInTwoRuns<RunRecords>(
      db.pageCount, own, [&] { return NotePageCarver(db, writeAhead, iOS7); },
      [](NotePageCarver& carver, std::int64_t first, std::int64_t last,
         std::vector<RunRecords>& runs) {
        RunRecords& records = runs.emplace_back();
        carver.carvePages(first, last, records.notes, records.bodies);
        return true;
      },
      [&](RunRecords&& records, bool) {
        for (auto& note : records.notes) noteArray.push_back(std::move(note));
        for (auto& body : records.bodies) noteValueArray.push_back(std::move(body));
      });
}
