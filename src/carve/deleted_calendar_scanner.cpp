#include "carve/deleted_calendar_scanner.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "carve/carve_primitives.h"
#include "carve/deleted_calls_scanner.h"
#include "extract/conversions.h"
#include "extract/device_databases.h"

namespace {

using carve::FieldBuffer;

// The widths of the event tables the layouts were made for: 31 columns without the
// write-ahead log, 41 before iOS 6 and 51 from iOS 6 on. A page whose live first cell
// shows a wider table (iOS 7 has 52 columns) is read with its own width.
constexpr std::int64_t kLegacyColumns = 31;
constexpr std::int64_t kOlderColumns = 41;
constexpr std::int64_t kIOS6Columns = 51;
constexpr std::int64_t kMostColumns = 200;

std::int64_t liveEventColumns(const CarveDatabase& db, std::int64_t page) {
  const std::int64_t columns = cellColumnCount(db.image, db.firstCellOffset(page));
  return columns >= kLegacyColumns && columns <= kMostColumns ? columns : 0;
}

// Date columns hold seconds since 2001 (the one-byte reader gives them as decimal text).
std::string eventDate(const FieldBuffer& field) {
  const std::string text(field.text());
  return dateText(std::strtoll(text.c_str(), nullptr, 10), 1);
}

std::string eventText(const FieldBuffer& field) { return GetStringFormChar(field.text()); }

// Reads the fields of one record through a fixed base, head adjustment and serial-type
// count, keeping the running data offset.
class EventFieldReader {
 public:
  // `field` is the carve's one field buffer (page size), emptied by every read.
  EventFieldReader(const DatabaseImage& file, std::int64_t base, std::int64_t head,
                   std::int64_t count, FieldBuffer& field)
      : file_(file), base_(base), head_(head), count_(count), field_(field) {}

  const FieldBuffer& oneByte(std::int64_t position) {
    carve::AnalyseTheDBDataFile(file_, position, dataOffset_, base_, head_, count_, field_);
    return field_;
  }
  const FieldBuffer& twoByte(std::int64_t position) {
    carve::AnalyseAlterbleDBFile(file_, position, dataOffset_, base_, head_, count_, field_);
    return field_;
  }

 private:
  const DatabaseImage& file_;
  std::int64_t base_;
  std::int64_t head_;
  std::int64_t count_;
  std::int64_t dataOffset_ = 0;
  FieldBuffer& field_;
};

// The six serial types a candidate starts with, for each layout.
bool isLegacyCandidate(const DatabaseImage& file, std::int64_t j) {
  const std::uint8_t first = file.at(j);
  if (first != 0x08 && first != 0x00) return false;
  return carve::signatureFamilyAt(file, j, 6, 3) == 1;
}

bool isWriteAheadCandidate(const DatabaseImage& file, std::int64_t k) {
  static constexpr std::uint8_t kAllEmpty[6] = {0x08, 0x08, 0x08, 0x08, 0x08, 0x08};
  static constexpr std::uint8_t kOneNull[6] = {0x08, 0x08, 0x00, 0x08, 0x08, 0x08};
  if (file.at(k) != 0x08) return false;
  return file.matches(k, kAllEmpty, 6) || file.matches(k, kOneNull, 6);
}

// Layout without write-ahead log: the candidate j lies 11 header bytes past the header
// start, 12 when the note's serial type takes two bytes (m = 1).
std::shared_ptr<MzCalenderNode> legacyEventAt(const CarveDatabase& db, std::int64_t j,
                                              std::int64_t liveColumns, FieldBuffer& field) {
  const std::int64_t m = DescriptionIsAlterbleDBFile(db.image, j - 9, 0) ? 1 : 0;
  const std::int64_t columns = liveColumns >= kLegacyColumns ? liveColumns : kLegacyColumns;
  EventFieldReader fields(db.image, j - 14 - m, 3, columns + m, field);
  auto event = std::make_shared<MzCalenderNode>();
  event->calTitle = eventText(fields.oneByte(1));
  event->location = eventText(fields.oneByte(2));
  if (m == 0) {
    event->calNote = eventText(fields.oneByte(3));
    event->startDate = eventDate(fields.oneByte(4));
    fields.oneByte(5);
    event->endDate = eventDate(fields.oneByte(6));
  } else {
    event->calNote = eventText(fields.twoByte(3));
    event->startDate = eventDate(fields.oneByte(5));
    event->endDate = eventDate(fields.oneByte(7));
  }
  return event;
}

// Layout with write-ahead log: the back distance to the record's base and the serial-type
// count depend on whether the note (d) and the title (t) take two-byte serial types.
std::shared_ptr<MzCalenderNode> writeAheadEventAt(const CarveDatabase& db, std::int64_t k,
                                                  bool iOS6, std::int64_t liveColumns,
                                                  FieldBuffer& field) {
  const bool d = DescriptionIsAlterbleDBFile(db.image, k - 9, 1);
  std::int64_t back = d ? 16 : 15;
  const std::int64_t titleProbe = d ? k - 12 : k - 11;
  const std::int64_t columns =
      liveColumns >= kOlderColumns ? liveColumns : (iOS6 ? kIOS6Columns : kOlderColumns);
  const std::int64_t usual = d ? columns + 1 : columns;
  const bool t = TitileIsAlterbleDBFile(db.image, titleProbe);
  std::int64_t fieldCount = 0;
  std::int64_t minimum = usual;
  if (t) {
    fieldCount = accquireFieldLengthVersion(db.image, k - 13, 1);
    back += 1;
    minimum = usual + 1;
  } else {
    fieldCount = accquireFieldLengthVersion(db.image, k - 12, 1);
  }
  std::int64_t count = fieldCount;
  if (fieldCount < minimum) {
    count = unique_identifAlter(db.image, k + 16, 1) ? minimum + 1 : minimum;
  }

  EventFieldReader fields(db.image, k - back, 4, count, field);
  auto event = std::make_shared<MzCalenderNode>();
  event->calTitle = eventText(t ? fields.twoByte(1) : fields.oneByte(1));
  fields.oneByte(2);
  if (!d) {
    event->calNote = eventText(fields.oneByte(3));
    event->startDate = eventDate(fields.oneByte(4));
    fields.oneByte(5);
    event->endDate = eventDate(fields.oneByte(6));
    fields.oneByte(7);
  } else {
    event->calNote = eventText(fields.twoByte(3));
    event->startDate = eventDate(fields.oneByte(5));
    fields.oneByte(6);
    event->endDate = eventDate(fields.oneByte(7));
  }
  fields.oneByte(8);
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

std::int64_t carveDeletedCalendarEvents(const CarveDatabase& db, bool writeAhead,
                                        bool currentNodeIsiOS6Version, const CalenderPost& post) {
  std::int64_t carved = 0;
  FieldBuffer field(static_cast<std::size_t>(db.pageSize));
  for (std::int64_t index = 0; index < db.pageCount; ++index) {
    const std::int64_t page = db.pageOffset(index);
    if (carve::getPageType(db.image, page) != 1) continue;
    if (!isEventPage(db, page, writeAhead)) continue;
    const std::int64_t liveColumns = liveEventColumns(db, page);
    const std::int64_t end = page + db.pageSize;
    for (std::int64_t at = page; at < end; ++at) {
      std::shared_ptr<MzCalenderNode> event;
      if (writeAhead) {
        if (isWriteAheadCandidate(db.image, at)) {
          event = writeAheadEventAt(db, at, currentNodeIsiOS6Version, liveColumns, field);
        }
      } else if (isLegacyCandidate(db.image, at)) {
        event = legacyEventAt(db, at, liveColumns, field);
      }
      if (!event) continue;
      ++carved;
      post(std::move(event));
    }
  }
  return carved;
}

void ScanDelCalenderThread(ScanContext& scan) {
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kCalendarKey, devicedb::kCalendar.domain, devicedb::kCalendar.path}};
  auto db = openCarveDatabase(scan, candidates, "NoteDB is not exist");
  if (!db) return;
  carveDeletedCalendarEvents(*db, db->isWalFile(), scan.currentNodeIsiOS6Version,
                             [&scan](std::shared_ptr<MzCalenderNode> event) {
                               scan.nc.post("scanDelCalenderInfo", std::move(event));
                             });
  scan.postProgress(100);
}
