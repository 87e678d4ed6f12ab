#include "carve/deleted_calls_scanner.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "carve/carve_primitives.h"
#include "extract/calls_scanner.h"
#include "extract/conversions.h"
#include "extract/device_databases.h"
#include "extract/name_lookup.h"

namespace {

using carve::FieldBuffer;

constexpr std::int64_t kIOS6FieldCount = 13;
// The widths a call table has had: 8 columns on iOS 4 up to 14 on iOS 7 and later.
constexpr std::int64_t kFewestCallColumns = 7;
constexpr std::int64_t kMostCallColumns = 20;
// The flags value of a call the owner made.
constexpr std::int32_t kOutgoingFlags = 5;
// SQLite writes the integer 1 as serial type 9, without a body.
constexpr std::uint8_t kSerialTypeOne = 9;

std::int32_t decimalValue(const FieldBuffer& field) {
  const std::string text(field.text());
  return static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

bool isCandidate(const DatabaseImage& file, std::int64_t i) {
  const std::uint8_t first = file.at(i);
  if (first != 0x01 && first != 0x03) return false;
  return carve::signatureFamilyAt(file, i, 3, 1) == 1;
}

bool isCallPage(const CarveDatabase& db, std::int64_t page) {
  return carve::subStringIsValidAt(db.image, db.firstCellOffset(page) + 7, 6, 1, 6);
}

// `field` is the carve's one field buffer (page size), emptied by every read.
std::shared_ptr<MzCallHistoryNode> callAt(const CarveDatabase& db, std::int64_t header,
                                          std::int64_t count, const CallNameLookup& nameOf,
                                          FieldBuffer& field) {
  std::int64_t dataOffset = 0;
  auto call = std::make_shared<MzCallHistoryNode>();
  carve::AnalyseDBDataFile(db.image, 1, dataOffset, header, count, field);
  if (!field.empty()) call->callPhone = GetStringFormChar(field.text());
  carve::AnalyseDBDataFile(db.image, 2, dataOffset, header, count, field);
  call->callDate = dateText(decimalValue(field), 0);
  carve::AnalyseDBDataFile(db.image, 3, dataOffset, header, count, field);
  call->callTime = decimalValue(field);
  // A one-second call has no body to read; without this it would read as missed.
  if (db.image.at(header + 3) == kSerialTypeOne) call->callTime = 1;
  carve::AnalyseDBDataFile(db.image, 4, dataOffset, header, count, field);
  const bool outgoing = decimalValue(field) == kOutgoingFlags;
  call->callType = outgoing ? "Outgoing" : "Incoming";
  if (call->callTime != 0) {
    call->callDuration = getCallHistoryDuration(call->callTime);
  } else {
    call->callDuration = outgoing ? "Cancelled" : "Missed";
  }
  if (call->callPhone.size() > 1 && nameOf) call->callName = nameOf(call->callPhone);
  return call;
}

// A varint of at most 9 bytes at `offset`, which moves past it.
std::uint64_t readVarint(const DatabaseImage& file, std::int64_t& offset) {
  std::uint64_t value = 0;
  for (int i = 0; i < 9; ++i) {
    const std::uint8_t byte = file.at(offset++);
    if (i == 8) return (value << 8) | byte;
    value = (value << 7) | (byte & 0x7F);
    if ((byte & 0x80) == 0) break;
  }
  return value;
}

// The column count of the page's live first cell when it is a call table's width.
std::int64_t liveCallColumns(const CarveDatabase& db, std::int64_t page) {
  const std::int64_t columns = cellColumnCount(db.image, db.firstCellOffset(page));
  return columns >= kFewestCallColumns && columns <= kMostCallColumns ? columns : 0;
}

}  // namespace

std::int64_t cellColumnCount(const DatabaseImage& file, std::int64_t cell) {
  std::int64_t at = cell;
  const std::uint64_t payload = readVarint(file, at);
  readVarint(file, at);  // rowid
  const std::int64_t headerStart = at;
  const std::uint64_t headerLength = readVarint(file, at);
  if (headerLength < 2 || headerLength > 2048 || headerLength > payload) return 0;
  const std::int64_t headerEnd = headerStart + static_cast<std::int64_t>(headerLength);
  std::int64_t columns = 0;
  std::uint64_t bodies = 0;
  while (at < headerEnd) {
    const std::uint64_t type = readVarint(file, at);
    if (type > 0xFFFFFFFFULL) return 0;
    bodies +=
        static_cast<std::uint64_t>(carve::getFieldDataLengthBy(static_cast<std::int64_t>(type)));
    ++columns;
  }
  // The header must end where its length says and, with the bodies, fill the payload.
  return at == headerEnd && headerLength + bodies == payload ? columns : 0;
}

std::int64_t accquireFieldLength(const DatabaseImage& file, std::int64_t offset) {
  std::int64_t zero = offset;
  while (zero >= 0 && file.at(zero) != 0x00) --zero;
  const std::int64_t c = file.at(zero - 1);
  if (c == 7 || c == 8) return 7;
  if (c >= 9 && c <= 11) return c - 1;
  return 0;
}

bool accquireField(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset) == 0x11;
}

std::int64_t carveDeletedCalls(const CarveDatabase& db, bool currentNodeIsiOS6Version,
                               const CallNameLookup& nameOf, const CallHistoryPost& post) {
  std::int64_t carved = 0;
  FieldBuffer field(static_cast<std::size_t>(db.pageSize));
  for (std::int64_t index = 0; index < db.pageCount; ++index) {
    const std::int64_t page = db.pageOffset(index);
    const int kind = carve::getPageType(db.image, page);
    if (kind != 1 && kind != 4) continue;
    if (!isCallPage(db, page)) continue;
    // Older backups: the field count of the page's first cell, else of the first record
    // that gives one, holds for the rest of the page. The live first cell's own width
    // comes before the guess from a record's surroundings.
    const std::int64_t liveColumns = liveCallColumns(db, page);
    std::int64_t pageCount = 0;
    if (!currentNodeIsiOS6Version) {
      pageCount = liveColumns != 0 ? liveColumns
                                   : accquireFieldLength(db.image, db.firstCellOffset(page) + 3);
    }
    const std::int64_t iOS6Count = liveColumns >= kIOS6FieldCount ? liveColumns : kIOS6FieldCount;
    const std::int64_t end = page + db.pageSize;
    for (std::int64_t i = page; i < end; ++i) {
      if (!isCandidate(db.image, i)) continue;
      std::int64_t count = iOS6Count;
      if (!currentNodeIsiOS6Version) {
        if (pageCount == 0) pageCount = accquireFieldLength(db.image, i - 5);
        count = pageCount != 0 ? pageCount : (accquireField(db.image, i + 4) ? 9 : 8);
      }
      ++carved;
      post(callAt(db, i - 4, count, nameOf, field));
    }
  }
  return carved;
}

void scanDelCallHistoryThread(ScanContext& scan) {
  const std::vector<DatabaseCandidate> candidates = {
      {devicedb::kCallsKey, devicedb::kCalls.domain, devicedb::kCalls.path},
      {devicedb::kCallsSecondKey, devicedb::kCallsSecond.domain, devicedb::kCallsSecond.path}};
  auto db = openCarveDatabase(scan, candidates, "messageDB is not exist");
  if (!db) return;
  NameLookup& names = nameLookupOf(scan.lists);
  carveDeletedCalls(
      *db, scan.currentNodeIsiOS6Version,
      [&names](const std::string& phone) { return names.name(phone); },
      [&scan](std::shared_ptr<MzCallHistoryNode> call) {
        scan.nc.post("ScanDelCallHistoryInfo", std::move(call));
      });
  scan.postProgress(90);
}
