#include "carve/deleted_calls_scanner.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/conversions.h"
#include "carve/candidate_scan.h"
#include "carve/carve_primitives.h"
#include "carve/page_runs.h"
#include "carve/record_blocks.h"
#include "carve/varint.h"
#include "extract/calls_scanner.h"
#include "extract/device_databases.h"
#include "extract/name_lookup.h"

namespace {

constexpr std::int64_t kIOS6FieldCount = 13;
// The widths a call table has had: 8 columns on iOS 4 up to 14 on iOS 7 and later.
constexpr std::int64_t kFewestCallColumns = 7;
constexpr std::int64_t kMostCallColumns = 20;
// The flags value of a call the owner made.
constexpr std::int32_t kOutgoingFlags = 5;
// SQLite writes the integer 1 as serial type 9, without a body.
constexpr std::uint8_t kSerialTypeOne = 9;
// Candidates look at the two bytes at their offset.
constexpr std::size_t kCallSpill = 8;

// strtol() of the field's text, cut to 32 bits, as the call fields are read.
std::int32_t decimalValue(const carve::RecordField& field) {
  return static_cast<std::int32_t>(field.number());
}

// The hex text of the three bytes at the offset begins with "0101", "0301", "0302", "0102",
// "0109" or "0309" (offset 0 gives no text and so never matches).
bool isCandidate(const std::uint8_t* bytes, std::int64_t offset) {
  if ((bytes[0] | 0x02) != 0x03) return false;  // 0x01 or 0x03
  const std::uint8_t second = bytes[1];
  return (second == 0x01 || second == 0x02 || second == 0x09) && offset > 0;
}

// What the block prefilter lets through: the first two bytes of isCandidate().
constexpr std::array<carve::ByteTest, 2> kCallTests = {carve::ByteTest{0, 2, {0x01, 0x03}},
                                                       carve::ByteTest{1, 3, {0x01, 0x02, 0x09}}};

bool isCallPage(const CarveDatabase& db, std::int64_t page) {
  return carve::subStringIsValidAt(db.image, db.firstCellOffset(page) + 7, 6, 1, 6);
}

// What one carver keeps from record to record.
struct CallCarve {
  const CarveDatabase& db;
  std::size_t capacity;
  DateTexts dates;
  carve::RecordBlocks<MzCallHistoryNode> records;
  // Names the records as they are carved; none: they are named when posted.
  const CallNameLookup* lookup = nullptr;
};

// The call whose header starts at `header`, or none when it has no number: such a call
// cannot be named either, and the results reject a call with neither number nor name as
// empty, so making it would be work thrown away (a quarter of the matches on a large file).
std::shared_ptr<MzCallHistoryNode> callAt(CallCarve& carve, std::int64_t header, std::int64_t count,
                                          std::int64_t end) {
  const DatabaseImage& file = carve.db.image;
  carve::RecordReader fields(file, header, header + count, carve.capacity, end);
  const carve::RecordField phone = fields.oneByte(1);
  if (phone.empty()) return nullptr;
  std::string number = phone.text();
  if (number.empty()) return nullptr;
  std::shared_ptr<MzCallHistoryNode> call = carve.records.make();
  call->callPhone = std::move(number);
  call->callDate = carve.dates.text(decimalValue(fields.oneByte(2)), 0);
  call->callTime = decimalValue(fields.oneByte(3));
  // A one-second call has no body to read; without this it would read as missed.
  if (file.at(header + 3) == kSerialTypeOne) call->callTime = 1;
  const bool outgoing = decimalValue(fields.oneByte(4)) == kOutgoingFlags;
  call->callType.assign(outgoing ? "Outgoing" : "Incoming", 8);
  if (call->callTime != 0) {
    call->callDuration = carve::callDurationText(call->callTime);
  } else {
    call->callDuration = outgoing ? "Cancelled" : "Missed";
  }
  return call;
}

// The column count of the page's live first cell when it is a call table's width.
std::int64_t liveCallColumns(const CarveDatabase& db, std::int64_t page) {
  const std::int64_t columns =
      cellColumnCount(db.image, db.firstCellOffset(page), page + db.pageSize);
  return columns >= kFewestCallColumns && columns <= kMostCallColumns ? columns : 0;
}

}  // namespace

std::int64_t cellColumnCount(const DatabaseImage& file, std::int64_t cell, std::int64_t end) {
  std::int64_t at = cell;
  // The next varint, moving past it; none when it does not end before `end`.
  auto next = [&]() -> std::optional<std::uint64_t> {
    const carve::Varint varint = carve::varintAt(file, at, end);
    if (!varint) return std::nullopt;
    at += varint.length;
    return varint.value;
  };
  const auto payload = next();
  if (!payload || !next()) return 0;  // the payload length and the rowid
  const std::int64_t headerStart = at;
  const auto headerLength = next();
  if (!headerLength || *headerLength < 2 || *headerLength > 2048 || *headerLength > *payload) {
    return 0;
  }
  const std::int64_t headerEnd = headerStart + static_cast<std::int64_t>(*headerLength);
  std::int64_t columns = 0;
  std::uint64_t bodies = 0;
  while (at < headerEnd) {
    const auto read = next();
    if (!read || *read > 0xFFFFFFFFULL) return 0;
    const std::uint64_t type = *read;
    bodies +=
        static_cast<std::uint64_t>(carve::getFieldDataLengthBy(static_cast<std::int64_t>(type)));
    ++columns;
  }
  // The header must end where its length says and, with the bodies, fill the payload.
  return at == headerEnd && *headerLength + bodies == *payload ? columns : 0;
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

namespace {

// Carves the calls of pages [first, last) of `db` in page order into `post`.
template <typename Post>
void carveCallPages(CallCarve& carve, bool currentNodeIsiOS6Version, std::int64_t first,
                    std::int64_t last, Post&& post) {
  const CarveDatabase& db = carve.db;
  carve::PageBytes pages(db.image, db.pageSize, kCallSpill);
  std::vector<std::uint32_t> candidates;
  for (std::int64_t index = first; index < last; ++index) {
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
    const std::uint8_t* bytes = pages.at(page);
    carve::findCandidates(bytes, static_cast<std::size_t>(db.pageSize),
                          static_cast<std::size_t>(db.pageSize) + kCallSpill, kCallTests,
                          candidates);
    for (const std::uint32_t k : candidates) {
      const std::int64_t i = page + k;
      if (!isCandidate(bytes + k, i)) continue;
      std::int64_t count = iOS6Count;
      if (!currentNodeIsiOS6Version) {
        if (pageCount == 0) pageCount = accquireFieldLength(db.image, i - 5);
        count = pageCount != 0 ? pageCount : (accquireField(db.image, i + 4) ? 9 : 8);
      }
      if (auto call = callAt(carve, i - 4, count, page + db.pageSize)) {
        call->origin = db.signatureOrigin(i);
        post(std::move(call));
      }
    }
  }
}

}  // namespace

std::int64_t carveDeletedCalls(const CarveDatabase& db, bool currentNodeIsiOS6Version,
                               const CallNameLookup& nameOf, const CallHistoryPost& post,
                               const CallCarvers& carvers) {
  std::int64_t carved = 0;
  auto name = [](const CallNameLookup& lookup, MzCallHistoryNode& call) {
    if (call.callPhone.size() > 1 && lookup) call.callName = lookup(call.callPhone);
  };
  auto postNamed = [&](std::shared_ptr<MzCallHistoryNode> call) {
    name(nameOf, *call);
    ++carved;
    post(std::move(call));
  };
  CallCarve own{db, carve::fieldCapacity(db), {}, {}, nameOf ? &nameOf : nullptr};
  if (carvers.one || db.pageCount < carve::kPagesWorthASecondCarver) {
    carveCallPages(own, currentNodeIsiOS6Version, 0, db.pageCount, postNamed);
    return carved;
  }
  // The second carver names its records with its own lookup when it has one; the ones it
  // leaves unnamed are named here as they are posted.
  const CallNameLookup* secondLookup =
      carvers.secondNameOf && nameOf ? &carvers.secondNameOf : nullptr;
  using Call = std::shared_ptr<MzCallHistoryNode>;
  carve::carveInTwoRuns<Call>(
      db.pageCount, own,
      [&] {
        return CallCarve{db, carve::fieldCapacity(db), {}, {}, secondLookup};
      },
      [&](CallCarve& carve, std::int64_t first, std::int64_t last, std::vector<Call>& calls) {
        carveCallPages(carve, currentNodeIsiOS6Version, first, last, [&](Call call) {
          if (carve.lookup) name(*carve.lookup, *call);
          calls.push_back(std::move(call));
        });
        return carve.lookup != nullptr;
      },
      [&](Call&& call, bool named) {
        if (!named) name(nameOf, *call);
        ++carved;
        post(std::move(call));
      });
  return carved;
}

// ---- What the call and calendar carvers share ------------------------------------------------

namespace carve {

PageBytes::PageBytes(const DatabaseImage& file, std::int64_t pageSize, std::size_t spill)
    : file_(file), needed_(pageSize + static_cast<std::int64_t>(spill)) {}

const std::uint8_t* PageBytes::at(std::int64_t page) {
  if (page >= 0 && page + needed_ <= file_.size()) return file_.data() + page;
  scratch_.resize(static_cast<std::size_t>(needed_));
  file_.copy(page, scratch_.size(), scratch_.data());
  return scratch_.data();
}

std::string RecordField::text() const {
  if (kind == Kind::kNone) return std::string();
  if (kind == Kind::kBytes) return GetStringFormChar(bytes);
  std::string decimal = std::to_string(integer);
  if (decimal.size() > cut) decimal.resize(cut);
  return decimal;
}

std::int64_t RecordField::number() const {
  if (kind == Kind::kNone) return 0;
  // Eleven characters hold every 32-bit integer.
  if (kind == Kind::kInteger && cut >= 11) return integer;
  if (kind == Kind::kBytes && bytes.size() < 64) {
    // Most bodies read as numbers are short: strtoll on a copy on the stack.
    char text[64];
    // An empty body's view may hold no pointer at all.
    if (!bytes.empty()) std::memcpy(text, bytes.data(), bytes.size());
    text[bytes.size()] = '\0';
    return std::strtoll(text, nullptr, 10);
  }
  const std::string text = kind == Kind::kBytes ? std::string(bytes) : this->text();
  return std::strtoll(text.c_str(), nullptr, 10);
}

RecordField RecordReader::oneByte(std::int64_t position) {
  if (typeBase_ + position >= end_) return {};
  const std::int64_t type = file_.at(typeBase_ + position);
  const std::int64_t length = getFieldDataLengthBy(type);
  if (length == 0) return {};
  if (type > 13) return body(length);
  RecordField field;
  if (type < 1 || type > 7) return field;
  const std::int64_t at = bodyBase_ + dataOffset_;
  if (at > end_ - length) {
    dataOffset_ += length;
    return field;
  }
  field.kind = RecordField::Kind::kInteger;
  field.cut = cut_;
  std::uint64_t value = 0;
  if (at >= 0 && at + length <= file_.size()) {
    const std::uint8_t* body = file_.data() + at;
    for (std::int64_t i = 0; i < length; ++i) value = (value << 8) | body[i];
  } else {
    for (std::int64_t i = 0; i < length; ++i) value = (value << 8) | file_.at(at + i);
  }
  field.integer = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  dataOffset_ += length;
  return field;
}

RecordField RecordReader::twoByte(std::int64_t position) {
  const std::int64_t at = typeBase_ + position;
  if (at >= end_ - 1) return {};
  const std::int32_t type = getAlterInteger(file_.at(at), file_.at(at + 1));
  if (type > 4095) return {};
  return body(getFieldDataLengthBy(type));
}

// A body of `length` bytes at the data offset: its bytes up to the first zero byte, within
// the cut; the bytes outside the file read as zero. None when it runs past the end.
RecordField RecordReader::body(std::int64_t length) {
  RecordField field;
  const std::int64_t at = bodyBase_ + dataOffset_;
  dataOffset_ += length;
  if (length <= 0 || at > end_ - length) return field;
  field.kind = RecordField::Kind::kBytes;
  std::int64_t n =
      length < static_cast<std::int64_t>(cut_) ? length : static_cast<std::int64_t>(cut_);
  if (at < 0 || at >= file_.size()) return field;  // the first byte is zero
  if (n > file_.size() - at) n = file_.size() - at;
  const char* start = reinterpret_cast<const char*>(file_.data() + at);
  const void* zero = std::memchr(start, 0, static_cast<std::size_t>(n));
  const std::size_t size = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - start)
                                : static_cast<std::size_t>(n);
  field.bytes = std::string_view(start, size);
  return field;
}

bool anyByteIs(const std::uint8_t* bytes, std::uint8_t orMask, std::uint8_t value) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  std::uint64_t word = 0;
  std::memcpy(&word, bytes, sizeof word);
  word = (word | (kOnes * orMask)) ^ (kOnes * value);
  // Has a zero byte.
  return ((word - kOnes) & ~word & (kOnes * 0x80)) != 0;
}

std::size_t fieldCapacity(const CarveDatabase& db) {
  return db.pageSize < 2 ? 2 : static_cast<std::size_t>(db.pageSize);
}

namespace {

std::string countText(std::int32_t count, std::string_view unit) {
  char text[32];
  char* end = std::to_chars(text, text + sizeof text - unit.size(), count).ptr;
  std::memcpy(end, unit.data(), unit.size());
  return std::string(text, end + unit.size());
}

}  // namespace

std::string callDurationText(std::int32_t seconds) {
  if (seconds < 0) return std::string();
  if (seconds >= 7200) return countText(seconds / 3600, " hours");
  if (seconds >= 3600) return "1 hour";
  const std::int32_t rest = seconds % 3600;
  if (rest >= 120) return countText(rest / 60, " minutes");
  if (rest >= 60) return "1 minute";
  if (rest <= 1) return countText(rest, " second");
  return countText(rest, " seconds");
}

}  // namespace carve
