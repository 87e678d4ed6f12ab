#include "carve/deleted_calendar_scanner.h"

#include <cstddef>
#include <string>
#include <vector>

#include "base/conversions.h"
#include "carve/carve_primitives.h"
#include "carve/deleted_calls_scanner.h"
#include "carve/page_runs.h"
#include "extract/device_databases.h"

namespace {

using carve::RecordField;
using carve::RecordReader;

// The widths of the event tables the layouts were made for: 31 columns without the
// write-ahead log, 41 before iOS 6 and 51 from iOS 6 on. A page whose live first cell
// shows a wider table (iOS 7 has 52 columns) is read with its own width.
constexpr std::int64_t kLegacyColumns = 31;
constexpr std::int64_t kOlderColumns = 41;
constexpr std::int64_t kIOS6Columns = 51;
constexpr std::int64_t kMostColumns = 200;
// Candidates look at the six bytes at their offset.
constexpr std::size_t kEventSpill = 8;

std::int64_t liveEventColumns(const CarveDatabase& db, std::int64_t page) {
  const std::int64_t columns =
      cellColumnCount(db.image, db.firstCellOffset(page), page + db.pageSize);
  return columns >= kLegacyColumns && columns <= kMostColumns ? columns : 0;
}

// What one carve keeps from record to record.
struct EventCarve {
  const CarveDatabase& db;
  std::size_t capacity;
  DateTexts dates;

  // Date columns hold seconds since 2001 (the one-byte reader gives them as decimal text).
  std::string date(const RecordField& field) { return dates.text(field.number(), 1); }
};

// The six serial types a candidate starts with, for each layout. Without the log: the hex
// text of the six bytes begins with "080800080808", "080808080808", "00000108" or
// "00000801" (offset 0 gives no text and so never matches).
bool isLegacyCandidate(const std::uint8_t* b, std::int64_t j) {
  if (b[0] == 0x08) {
    return b[1] == 0x08 && (b[2] == 0x00 || b[2] == 0x08) && b[3] == 0x08 && b[4] == 0x08 &&
           b[5] == 0x08 && j > 0;
  }
  if (b[0] != 0x00 || b[1] != 0x00) return false;
  return ((b[2] == 0x01 && b[3] == 0x08) || (b[2] == 0x08 && b[3] == 0x01)) && j > 0;
}

// With the log: "080808080808" or "080800080808".
bool isWriteAheadCandidate(const std::uint8_t* b) {
  return b[0] == 0x08 && b[1] == 0x08 && (b[2] == 0x08 || b[2] == 0x00) && b[3] == 0x08 &&
         b[4] == 0x08 && b[5] == 0x08;
}

// Layout without write-ahead log: the candidate j lies 11 header bytes past the header
// start, 12 when the note's serial type takes two bytes (m = 1). Fields are read at base
// j - 14 - m with head adjustment 3 and count columns + m, none past `end` (the page's end).
std::shared_ptr<MzCalenderNode> legacyEventAt(EventCarve& carve, std::int64_t j,
                                              std::int64_t liveColumns, std::int64_t end) {
  const DatabaseImage& file = carve.db.image;
  const std::int64_t m = DescriptionIsAlterbleDBFile(file, j - 9, 0) ? 1 : 0;
  const std::int64_t columns = liveColumns >= kLegacyColumns ? liveColumns : kLegacyColumns;
  const std::int64_t base = j - 14 - m + 3;
  RecordReader fields(file, base, base + columns + m, carve.capacity, end);
  // Every member has its own initialiser: no zeroing first.
  auto event = std::make_shared_for_overwrite<MzCalenderNode>();
  event->calTitle = fields.oneByte(1).text();
  event->location = fields.oneByte(2).text();
  if (m == 0) {
    event->calNote = fields.oneByte(3).text();
    event->startDate = carve.date(fields.oneByte(4));
    fields.oneByte(5);
    event->endDate = carve.date(fields.oneByte(6));
  } else {
    event->calNote = fields.twoByte(3).text();
    event->startDate = carve.date(fields.oneByte(5));
    event->endDate = carve.date(fields.oneByte(7));
  }
  return event;
}

// Layout with write-ahead log: the back distance to the record's base and the serial-type
// count depend on whether the note (d) and the title (t) take two-byte serial types. Fields
// are read at base k - back with head adjustment 4. The reads after the end date would only
// move the data offset, so they are left out. No field is read past `end` (the page's end).
std::shared_ptr<MzCalenderNode> writeAheadEventAt(EventCarve& carve, std::int64_t k, bool iOS6,
                                                  std::int64_t liveColumns, std::int64_t end) {
  const DatabaseImage& file = carve.db.image;
  const bool d = DescriptionIsAlterbleDBFile(file, k - 9, 1);
  std::int64_t back = d ? 16 : 15;
  const std::int64_t titleProbe = d ? k - 12 : k - 11;
  const std::int64_t columns =
      liveColumns >= kOlderColumns ? liveColumns : (iOS6 ? kIOS6Columns : kOlderColumns);
  const std::int64_t usual = d ? columns + 1 : columns;
  const bool t = TitileIsAlterbleDBFile(file, titleProbe);
  std::int64_t fieldCount = 0;
  std::int64_t minimum = usual;
  if (t) {
    fieldCount = accquireFieldLengthVersion(file, k - 13, 1);
    back += 1;
    minimum = usual + 1;
  } else {
    fieldCount = accquireFieldLengthVersion(file, k - 12, 1);
  }
  std::int64_t count = fieldCount;
  if (fieldCount < minimum) {
    count = unique_identifAlter(file, k + 16, 1) ? minimum + 1 : minimum;
  }

  const std::int64_t base = k - back + 4;
  RecordReader fields(file, base, base + count, carve.capacity, end);
  // Every member has its own initialiser: no zeroing first.
  auto event = std::make_shared_for_overwrite<MzCalenderNode>();
  event->calTitle = (t ? fields.twoByte(1) : fields.oneByte(1)).text();
  fields.oneByte(2);
  if (!d) {
    event->calNote = fields.oneByte(3).text();
    event->startDate = carve.date(fields.oneByte(4));
    fields.oneByte(5);
    event->endDate = carve.date(fields.oneByte(6));
  } else {
    event->calNote = fields.twoByte(3).text();
    event->startDate = carve.date(fields.oneByte(5));
    fields.oneByte(6);
    event->endDate = carve.date(fields.oneByte(7));
  }
  return event;
}

// Whether a table leaf page holds event records: the serial types 14 bytes into its first
// (live) cell.
bool isEventPage(const CarveDatabase& db, std::int64_t page, bool writeAhead) {
  const std::int64_t first = db.firstCellOffset(page);
  return carve::subStringIsValidAt(db.image, first + 14, writeAhead ? 10 : 12, 3, 12);
}

}  // namespace

bool DescriptionIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset, int Version) {
  const std::uint8_t byte = file.at(offset);
  if (Version == 1) return byte != 0x08 && byte != 0x00 && byte != 0x01 && byte != 0x09;
  return byte >= 0x80 && byte <= 0x89;
}

bool TitileIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset) != 0x00;
}

std::int64_t accquireFieldLengthVersion(const DatabaseImage& file, std::int64_t offset,
                                        int version) {
  const std::int64_t c = file.at(offset);
  if (version == 0 && c >= 32 && c <= 35) return c - 1;
  if (version == 1 && c >= 42 && c <= 45) return c - 1;
  return 0;
}

bool IsExtra_AttributeAlter(const DatabaseImage& file, std::int64_t offset, std::int64_t length) {
  if (length != 24) return false;
  const std::uint8_t byte = file.at(offset);
  return byte != 0x01 && byte != 0x00;
}

bool unique_identifAlter(const DatabaseImage& file, std::int64_t offset, int version) {
  return version == 1 && file.at(offset) != 0x00;
}

namespace {

// Carves the events of pages [first, last) of `db` in page order into `emit`.
template <typename Emit>
void carveEventPages(EventCarve& carve, bool writeAhead, bool currentNodeIsiOS6Version,
                     std::int64_t first, std::int64_t last, Emit&& emit) {
  const CarveDatabase& db = carve.db;
  carve::PageBytes pages(db.image, db.pageSize, kEventSpill);
  for (std::int64_t index = first; index < last; ++index) {
    const std::int64_t page = db.pageOffset(index);
    if (carve::getPageType(db.image, page) != 1) continue;
    if (!isEventPage(db, page, writeAhead)) continue;
    const std::int64_t liveColumns = liveEventColumns(db, page);
    const std::uint8_t* bytes = pages.at(page);
    const std::int64_t end = page + db.pageSize;
    for (std::int64_t at = page; at < end; ++at) {
      // With the log, eight offsets at a time while none of them holds 0x08.
      while (writeAhead && end - at >= 8 && !carve::anyByteIs(bytes + (at - page), 0x00, 0x08)) {
        at += 8;
      }
      if (at >= end) break;
      const std::uint8_t* b = bytes + (at - page);
      std::shared_ptr<MzCalenderNode> event;
      if (writeAhead) {
        if (!isWriteAheadCandidate(b)) continue;
        event = writeAheadEventAt(carve, at, currentNodeIsiOS6Version, liveColumns, end);
      } else {
        if (!isLegacyCandidate(b, at)) continue;
        event = legacyEventAt(carve, at, liveColumns, end);
      }
      event->origin = db.signatureOrigin(at);
      emit(std::move(event));
    }
  }
}

}  // namespace

std::int64_t carveDeletedCalendarEvents(const CarveDatabase& db, bool writeAhead,
                                        bool currentNodeIsiOS6Version, const CalenderPost& post,
                                        bool oneCarver) {
  std::int64_t carved = 0;
  auto postEvent = [&](std::shared_ptr<MzCalenderNode> event) {
    ++carved;
    post(std::move(event));
  };
  EventCarve own{db, carve::fieldCapacity(db), {}};
  if (oneCarver || db.pageCount < carve::kPagesWorthASecondCarver) {
    carveEventPages(own, writeAhead, currentNodeIsiOS6Version, 0, db.pageCount, postEvent);
    return carved;
  }
  using Event = std::shared_ptr<MzCalenderNode>;
  carve::carveInTwoRuns<Event>(
      db.pageCount, own,
      [&] {
        return EventCarve{db, carve::fieldCapacity(db), {}};
      },
      [&](EventCarve& carve, std::int64_t first, std::int64_t last, std::vector<Event>& events) {
        carveEventPages(carve, writeAhead, currentNodeIsiOS6Version, first, last,
                        [&](Event event) { events.push_back(std::move(event)); });
        return true;
      },
      [&](Event&& event, bool) { postEvent(std::move(event)); });
  return carved;
}
