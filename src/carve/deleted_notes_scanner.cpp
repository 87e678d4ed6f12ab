#include "carve/deleted_notes_scanner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "carve/carve_primitives.h"
#include "carve/page_runs.h"
#include "carve/varint.h"
#include "extract/conversions.h"
#include "extract/device_databases.h"
#include "extract/notes_scanner.h"

namespace {

using carve::FieldBuffer;

// The distance from `offset` to the first byte equal to `wanted` at or after `from`, looking
// no further than kProbeReach bytes past `offset`.
std::int64_t distanceTo(const DatabaseImage& file, std::int64_t offset, std::int64_t from,
                        std::uint8_t wanted) {
  for (std::int64_t at = from; at - offset <= kProbeReach; ++at) {
    if (file.at(at) == wanted) return at - offset;
  }
  return kProbeReach + 1;
}

// The value of a decimal text as the device's string-to-integer conversion reads it:
// optional blanks and sign, then digits up to the first other character; 0 for none.
std::int32_t decimalValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > 0x7FFFFFFFLL) return negative ? INT32_MIN : INT32_MAX;
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

// A text field as text: UTF-8 decoded, empty for bytes that are not UTF-8.
std::string fieldText(const FieldBuffer& field) { return GetStringFormChar(field.text()); }

// One carved record: its header start, serial-type count and running data offset, the end
// of its page (no field is read past it: see the field readers) and the buffer every field
// is read into. With `bodiless`, the serial types 8 and 9 are the integers 0 and 1, as
// schema format 4 writes them: they read as "0" and "1" and take no body bytes, so the
// record reads as its schema format 1 twin (type 1 with a body of 0 or 1) does.
class RecordReader {
 public:
  RecordReader(const DatabaseImage& file, std::int64_t header, std::int64_t count, std::int64_t end,
               FieldBuffer& field, bool bodiless)
      : file_(file),
        header_(header),
        count_(count),
        end_(end),
        field_(field),
        bodiless_(bodiless) {}

  // One-byte serial type at header + position.
  const FieldBuffer& oneByte(std::int64_t position) {
    if (bodilessInteger(position)) return field_;
    carve::AnalyseDBDataFile(file_, position, dataOffset_, header_, count_, field_, end_);
    return field_;
  }
  // Two-byte serial type at header + position.
  const FieldBuffer& twoByte(std::int64_t position) {
    carve::AnalyseAlterbleDB(file_, position, dataOffset_, header_, count_, field_, end_);
    return field_;
  }
  // Two-byte serial type with a moved base and a head adjustment.
  const FieldBuffer& twoByteFrom(std::int64_t base, std::int64_t head, std::int64_t position) {
    carve::AnalyseAlterbleDBFile(file_, position, dataOffset_, base, head, count_, field_, end_);
    return field_;
  }
  const FieldBuffer& read(std::int64_t position, bool twoBytes) {
    return twoBytes ? twoByte(position) : oneByte(position);
  }

  // Steps over a field that is not kept, exactly as reading it would move the data offset:
  // by the body length of its serial type (no body for types 0 and 8 to 13, none for a
  // two-byte type above 4095).
  void skip(std::int64_t position) {
    dataOffset_ += carve::getFieldDataLengthBy(file_.at(header_ + position));
  }
  void skipTwoByte(std::int64_t position) {
    const std::int32_t type =
        carve::getAlterInteger(file_.at(header_ + position), file_.at(header_ + position + 1));
    if (type <= 4095) dataOffset_ += carve::getFieldDataLengthBy(type);
  }
  void skip(std::int64_t position, bool twoBytes) {
    twoBytes ? skipTwoByte(position) : skip(position);
  }

  // The value the one-byte reader's decimal text at `position` gives, read without the
  // text for an integer type: its body cut to signed 32 bits (0 and 1 for the bodiless
  // types; 0 for a body the reader refuses). Other types go through the text (0 when there
  // is none).
  std::int32_t integer(std::int64_t position) {
    const std::uint8_t type = typeAt(position);
    if (type >= 1 && type <= 7 && field_.capacity() > kDecimalRoom) {
      const std::int64_t length = carve::getFieldDataLengthBy(type);
      const std::int64_t at = header_ + count_ + dataOffset_;
      dataOffset_ += length;
      if (at > end_ - length) return 0;
      std::uint8_t raw[8];
      file_.copy(at, static_cast<std::size_t>(length), raw);
      const std::uint64_t value = carve::readBigEndian(raw, 0, static_cast<std::size_t>(length));
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    if (bodiless_ && (type == 8 || type == 9)) return type - 8;
    return decimalValue(oneByte(position).text());
  }

  // The modification date at `position` as the date text. Core Data writes its timestamps
  // as reals; SQLite keeps a whole-second value as an integer but one with a fraction of a
  // second as an 8-byte float (serial type 7), whose bits read as an integer would give a
  // nonsense date. Such a body is read as the float it is, its whole seconds taken. No date
  // for a body the reader refuses.
  std::string date(std::int64_t position) {
    const std::int64_t bodyAt = header_ + count_ + dataOffset_;
    const std::uint8_t type = typeAt(position);
    const bool integerType = (type >= 1 && type <= 7) || (bodiless_ && (type == 8 || type == 9));
    if (!integerType) {
      // A text read as a number, or nothing for types without a body.
      if (!carve::AnalyseDBDataFile(file_, position, dataOffset_, header_, count_, field_, end_)) {
        return {};
      }
      return dateText(decimalValue(field_.text()), 1);
    }
    if (type <= 7 && bodyAt > end_ - carve::getFieldDataLengthBy(type)) {
      integer(position);  // moves the data offset past the refused body
      return {};
    }
    std::int64_t seconds = integer(position);
    if (type == 7) {
      std::uint8_t raw[8];
      file_.copy(bodyAt, sizeof raw, raw);
      const std::uint64_t bits = carve::readBigEndian(raw, 0, sizeof raw);
      double value = 0;
      std::memcpy(&value, &bits, sizeof value);
      // Outside the range a note date can take the float is not a date at all.
      if (!(value > -4.0e9 && value < 4.0e9)) return {};
      seconds = static_cast<std::int64_t>(value);
    }
    return dateText(seconds, 1);
  }

 private:
  // Room the decimal text of a 32-bit integer takes, sign and terminating zero included: a
  // field buffer of less would cut it, so then the text is read as it is.
  static constexpr std::size_t kDecimalRoom = 12;

  // The one-byte serial type at `position`; a byte at or past the end reads as 0 (no field),
  // as the field readers read it.
  std::uint8_t typeAt(std::int64_t position) const {
    return header_ + position < end_ ? file_.at(header_ + position) : 0;
  }

  // True when the serial type at `position` is 8 or 9 and the file writes those: the field
  // then holds "0" or "1" and the data offset stays.
  bool bodilessInteger(std::int64_t position) {
    if (!bodiless_) return false;
    const std::uint8_t type = typeAt(position);
    if (type != 8 && type != 9) return false;
    field_.assignText(type == 8 ? "0" : "1");
    return true;
  }

  const DatabaseImage& file_;
  std::int64_t header_;
  std::int64_t count_;
  std::int64_t end_;
  std::int64_t dataOffset_ = 0;
  FieldBuffer& field_;
  bool bodiless_;
};

void setTitle(MzNoteNode& note, const FieldBuffer& field) {
  if (!field.empty()) note.noteTitle = fieldText(field);
}

// ---- Schema formats ------------------------------------------------------------------------
//
// The layouts below look for runs of one-byte integer columns. Schema format 1 writes every
// small integer as serial type 1 with a one-byte body; schema format 4 (what every SQLite
// since 3.7.10 creates, so every store set up on iOS 6 or later) writes the values 0 and 1
// as the bodiless serial types 8 and 9 instead. A format 4 record is therefore the format 1
// record with some 0x01 header bytes turned into 0x08 or 0x09 and those bodies left out;
// the field readers already take no body for types 8 and 9, so the data offsets follow.
// Formats 1 to 3 never write types 8 and 9, so the header's format number decides whether
// the format 4 forms are looked for at all.

// True when the file's header gives schema format 4 (the 32-bit number at offset 44).
bool writesBodilessIntegers(const DatabaseImage& file) {
  const std::uint32_t format = std::uint32_t{file.at(44)} << 24 | std::uint32_t{file.at(45)} << 16 |
                               std::uint32_t{file.at(46)} << 8 | file.at(47);
  return format == 4;
}

// A serial type of a small integer column: 0x01, or 0x08 and 0x09 where the file writes
// bodiless integers. Each signature begins with the entity column (Z_ENT: 3 for a note, 4
// for a body), which is never 0 or 1 and so is 0x01 in both formats.
bool isSmallInteger(std::uint8_t type, bool bodiless) {
  return type == 0x01 || (bodiless && (type == 0x08 || type == 0x09));
}

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

// Write-ahead branch, before iOS 7: a record whose header begins (after the rowid column)
// with six one-byte integers and a 6-byte integer.
std::shared_ptr<MzNoteNode> noteBeforeIOS7(const DatabaseImage& file, std::int64_t l,
                                           std::int64_t end, FieldBuffer& field, bool bodiless) {
  const std::int64_t m = bIsAlterbleDBFileVersion(file, l + 18, 1);
  std::int64_t head = 0;
  std::int64_t count = 0;
  if (m == 0) {
    head = 3;
    count = 19;
  } else if (m == 1) {
    head = 4;
    count = 20;
  } else if (m == 2) {
    count = 21;
  }
  auto note = std::make_shared<MzNoteNode>();
  RecordReader record(file, l - 1, count, end, field, bodiless);
  for (std::int64_t position = 1; position <= 19; ++position) {
    switch (position) {
      case 10:
        note->uid = record.integer(position);
        break;
      case 13:
        note->noteDate = record.date(position);
        break;
      case 18:
        if (m == 0) {
          setTitle(*note, record.oneByte(position));
        } else {
          record.skipTwoByte(position);
        }
        break;
      case 19:
        if (m == 1) {
          setTitle(*note, record.twoByteFrom(l - 4, head, position));
        } else if (m == 2) {
          setTitle(*note, record.twoByte(position));
        }
        break;
      default:
        record.skip(position);
    }
  }
  return note;
}

// Write-ahead branch, iOS 7: one more integer column; the summary and the title may each
// take a two-byte serial type.
std::shared_ptr<MzNoteNode> noteOfIOS7(const DatabaseImage& file, std::int64_t l, std::int64_t end,
                                       FieldBuffer& field, bool bodiless) {
  const int s = bIsbSummeryChanged(file, l + 17);
  const int t = bIsbTitleChanged(file, s == 1 ? l + 19 : l + 18);
  auto note = std::make_shared<MzNoteNode>();
  RecordReader record(file, l - 1, 20 + s + t, end, field, bodiless);
  for (std::int64_t position = 1; position <= 20; ++position) {
    switch (position) {
      case 11:
        note->uid = record.integer(position);
        break;
      case 14:
        note->noteDate = record.date(position);
        break;
      case 18:
        record.skip(position, s == 1);
        break;
      case 19:
        if (s == 0) setTitle(*note, record.read(position, t == 1));
        break;
      case 20:
        if (s == 1) setTitle(*note, record.read(position, t == 1));
        break;
      default:
        record.skip(position);
    }
  }
  return note;
}

// Rollback-journal branch: the title's place depends on whether the byte 13 after the
// match is zero (p 19) or not (p 15).
std::shared_ptr<MzNoteNode> noteOfRollbackFile(const DatabaseImage& file, std::int64_t i,
                                               std::int64_t end, FieldBuffer& field,
                                               bool bodiless) {
  const int p = CheckTitlePostion(file, i + 13);
  const std::int64_t a =
      p == 15 ? checkTitleAlterable(file, i + 14, 15) : checkTitleAlterable(file, i + 18, 19);
  std::int64_t u = 0;
  bool b = false;
  std::int64_t baseCount = 19;
  if (a == 1) {
    u = CheckAlterSummary(file, i + 19, 0);
    b = true;
    baseCount = 20;
  } else {
    u = CheckAlterSummary(file, i + 18, 0);
  }
  auto note = std::make_shared<MzNoteNode>();
  RecordReader record(file, i - 1, baseCount + (u > 0 ? 1 : 0), end, field, bodiless);
  const std::int64_t last = p == 15 ? 18 : 19;
  for (std::int64_t position = 1; position <= last; ++position) {
    if (p == 15) {
      switch (position) {
        case 11:
          note->uid = record.integer(position);
          break;
        case 12:
          note->noteDate = record.date(position);
          break;
        case 14:
          setTitle(*note, record.read(position, b));
          break;
        case 15:
          if (a == 0) record.skip(position);
          break;
        case 18:
          record.skip(position, u > 0);
          break;
        default:
          record.skip(position);
      }
      continue;
    }
    switch (position) {
      case 10:
        note->uid = record.integer(position);
        break;
      case 12:
        note->noteDate = record.date(position);
        break;
      case 17:
        record.skip(position, u > 0);
        break;
      case 18:
        if (u == 0) setTitle(*note, record.read(position, a != 0));
        break;
      case 19:
        if (u > 0) setTitle(*note, record.read(position, a != 0));
        break;
      default:
        record.skip(position);
    }
  }
  return note;
}

bool isText(std::uint64_t type) { return type >= 13 && type % 2 == 1; }
bool isNullOrText(std::uint64_t type) { return type == 0 || isText(type); }
bool isNullOrBlob(std::uint64_t type) { return type == 0 || (type >= 12 && type % 2 == 0); }

// True when the serial types after a body candidate at `i` are those of a ZNOTEBODY row: the
// content (ZCONTENT) a text whose serial type takes the `w` + 1 bytes the layout reads it
// from, then ZEXTERNALCONTENTREF NULL or a text and ZEXTERNALREPRESENTATION NULL or a blob.
// Rows of other tables that begin with small integers and a text fail it, as the store's
// account and store rows do: read as a body, the account row's last column is a text, and
// the store row's "two-byte" content type is two one-byte types. The serial types must end
// before `end`, the end of the page.
bool fitsBodyColumns(const DatabaseImage& file, std::int64_t i, std::int64_t w, std::int64_t end) {
  const carve::Varint content = carve::varintAt(file, i + 3, end);
  if (!content || content.length != w + 1 || !isText(content.value)) return false;
  const std::int64_t refAt = i + 3 + content.length;
  const carve::Varint ref = carve::varintAt(file, refAt, end);
  if (!ref || !isNullOrText(ref.value)) return false;
  const carve::Varint representation = carve::varintAt(file, refAt + ref.length, end);
  return representation && isNullOrBlob(representation.value);
}

// SQLite writes an integer in the fewest bytes that hold it, and a primary key is never
// negative: a two-byte owner id outside 128 to 32767, or a three-byte one outside 32768 to
// 8388607 (read unsigned, so a negative one reads as 8388608 or more), is no body's.
bool ownerIdInRange(std::uint8_t type, std::int32_t id) {
  if (type == 0x02) return id >= 128 && id <= 32767;
  if (type == 0x03) return id >= 32768 && id <= 8388607;
  return true;
}

// A body record at `i` (which passed the body signature), read as the body layout has it
// within its page (which ends at `end`): none when its serial types are not those of a
// ZNOTEBODY row.
std::shared_ptr<MzNoteValueNode> bodyAt(const DatabaseImage& file, std::int64_t i, std::int64_t end,
                                        FieldBuffer& field, bool bodiless) {
  const std::int64_t w = carve::bIsAlterbleDBFile(file, i + 4, 6);
  if (!fitsBodyColumns(file, i, w, end)) return nullptr;
  RecordReader record(file, i - 1, w + 7, end, field, bodiless);
  auto body = std::make_shared<MzNoteValueNode>();
  record.skip(1);
  record.skip(2);
  // The owner id's body (one, two or three bytes, none for the bodiless 0 and 1) moves the
  // data offset, so the content is read after it.
  body->uid = record.integer(3);
  if (!ownerIdInRange(file.at(i + 2), body->uid)) return nullptr;
  const FieldBuffer& value = record.read(4, w == 1);
  if (!value.empty()) body->noteValue = fieldText(value);
  return body;
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
    findNoteCandidates(bytes, size, bodiless_, candidates_);
    const std::int64_t end = page + db_.pageSize;
    for (const std::uint32_t k : candidates_) {
      const std::uint8_t* b = bytes + k;
      const std::int64_t at = page + k;
      if (notes) carveNote(b, at, end);
      if (bodies && isBodySignature(b, bodiless_)) {
        if (auto body = bodyAt(file_, at, end, field_, bodiless_)) {
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

// The first '<' or '&' at or after `at` in `text`, or its size for none: 16 bytes at a time.
std::size_t nextMarkStart(std::string_view text, std::size_t at) {
  const std::size_t n = text.size();
#if defined(__SSE2__)
  const __m128i open = _mm_set1_epi8('<');
  const __m128i amp = _mm_set1_epi8('&');
  for (; at + 16 <= n; at += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    const int mask = _mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(block, open), _mm_cmpeq_epi8(block, amp)));
    if (mask != 0) return at + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  while (at < n && text[at] != '<' && text[at] != '&') ++at;
  return at;
}

// The length of the note-body mark that begins at `at` (a '<' or '&'), 0 for none; `removed`
// tells a mark dropped without a trace from one that becomes a blank.
std::size_t noteMarkAt(std::string_view text, std::size_t at, bool& removed) {
  const std::string_view rest = text.substr(at);
  removed = false;
  if (rest[0] == '&') return rest.starts_with("&nbsp;") ? 6 : 0;
  if (rest.starts_with("<br>")) return 4;
  if (rest.starts_with("</br>")) return 5;
  removed = true;
  if (rest.starts_with("<div>")) return 5;
  if (rest.starts_with("</div>")) return 6;
  return 0;
}

std::vector<DatabaseCandidate> notesCandidates() {
  return {{devicedb::kNotesKey, devicedb::kNotes.domain, devicedb::kNotes.path},
          {devicedb::kNotesSecondKey, devicedb::kNotesSecond.domain, devicedb::kNotesSecond.path}};
}

}  // namespace

int CheckTitlePostion(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset) == 0x00 ? 19 : 15;
}

std::int64_t checkTitleAlterable(const DatabaseImage& file, std::int64_t offset, int postion) {
  if (postion == 19) return file.at(offset) != 0x03 && file.at(offset + 1) != 0x01 ? 1 : 0;
  if (postion == 15) return distanceTo(file, offset, offset, 0x00);
  return 0;
}

std::int64_t CheckAlterSummary(const DatabaseImage& file, std::int64_t offset, int version) {
  if (version != 0 || file.at(offset) == 0x03) return 0;
  return distanceTo(file, offset, offset + 1, 0x03);
}

std::int64_t bIsAlterbleDBFileVersion(const DatabaseImage& file, std::int64_t offset, int version) {
  if (version != 0 && version != 1) return 0;
  const std::uint8_t wanted = version == 1 ? 0x03 : 0x00;
  if (file.at(offset) == wanted) return 0;
  return distanceTo(file, offset, offset + 1, wanted);
}

int bIsbSummeryChanged(const DatabaseImage& file, std::int64_t offset) {
  const std::uint8_t byte = file.at(offset);
  return byte >= 121 && byte <= 136 ? 1 : 0;
}

int bIsbTitleChanged(const DatabaseImage& file, std::int64_t offset) {
  return bIsbSummeryChanged(file, offset);
}

void findNoteCandidates(const std::uint8_t* bytes, std::size_t n, bool bodiless,
                        std::vector<std::uint32_t>& out) {
  out.clear();
  auto holds = [&](std::size_t k) {
    const std::uint8_t second = bytes[k + 1];
    const std::uint8_t third = bytes[k + 2];
    const bool bodilessSecond = bodiless && (second == 0x08 || second == 0x09);
    const bool bodilessThird = bodiless && (third == 0x08 || third == 0x09);
    return bytes[k] == 0x01 && (second == 0x01 || bodilessSecond) &&
           (third == 0x01 || third == 0x02 || third == 0x03 || bodilessThird);
  };
  std::size_t k = 0;
#if defined(__SSE2__)
  const __m128i one = _mm_set1_epi8(0x01);
  const __m128i three = _mm_set1_epi8(0x03);
  const __m128i eight = _mm_set1_epi8(0x08);
  const __m128i nine = _mm_set1_epi8(0x09);
  for (; k + 16 <= n; k += 16) {
    // Most blocks hold no 0x01 at all (text, or the zeros of unused space): one compare.
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(first, one)));
    if (mask == 0) continue;
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k + 1));
    const __m128i third = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + k + 2));
    __m128i secondFits = _mm_cmpeq_epi8(second, one);
    // 0x01, 0x02 and 0x03 are the bytes from 1 to 3: one unsigned range test.
    __m128i thirdFits = _mm_cmpeq_epi8(_mm_min_epu8(_mm_max_epu8(third, one), three), third);
    if (bodiless) {
      secondFits = _mm_or_si128(
          secondFits, _mm_or_si128(_mm_cmpeq_epi8(second, eight), _mm_cmpeq_epi8(second, nine)));
      thirdFits = _mm_or_si128(
          thirdFits, _mm_or_si128(_mm_cmpeq_epi8(third, eight), _mm_cmpeq_epi8(third, nine)));
    }
    mask &= static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(secondFits, thirdFits)));
    for (; mask != 0; mask &= mask - 1) {
      out.push_back(static_cast<std::uint32_t>(k + static_cast<std::size_t>(__builtin_ctz(mask))));
    }
  }
#endif
  for (; k < n; ++k) {
    if (holds(k)) out.push_back(static_cast<std::uint32_t>(k));
  }
}

std::string cleanDeletedNoteBody(const std::string& body) {
  const std::string_view text(body);
  const std::size_t n = text.size();
  std::size_t at = nextMarkStart(text, 0);
  if (at == n) return body;
  std::string out;
  out.reserve(n);
  std::size_t copied = 0;  // the body up to here is in `out`
  // Where in `out` the last '<' or '&' that begins no mark stands (or will, once copied).
  std::size_t stray = 0;
  bool anyStray = false;
  while (at < n) {
    bool removed = false;
    const std::size_t length = noteMarkAt(text, at, removed);
    if (length == 0) {
      stray = out.size() + (at - copied);
      anyStray = true;
      ++at;
    } else {
      out.append(text, copied, at - copied);
      // The five-pass cleaning would see the text on both sides of the removal joined:
      // with a stray '<' or '&' close enough before the join that may be a new mark.
      if (removed && anyStray && out.size() - stray <= 5) return cleanNoteBody(body);
      if (!removed) out += ' ';
      at += length;
      copied = at;
    }
    at = nextMarkStart(text, at);
  }
  out.append(text, copied, std::string_view::npos);
  return out;
}

bool CheckNoteBodyMark(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset + 3) >= 0x10 &&
         (file.at(offset + 4) == 0x00 || file.at(offset + 5) == 0x00);
}

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

std::vector<std::shared_ptr<MzNoteNode>> assembleDeletedNotes(
    RecordList<MzNoteNode>& noteArray, const RecordList<MzNoteValueNode>& noteValueArray) {
  std::vector<std::shared_ptr<MzNoteNode>> posted;
  if (noteValueArray.empty()) return posted;
  // The first body's walk raises every id that repeats its predecessor; after it no two
  // neighbours are equal and no id is 0 at the front, so the walks of later bodies change
  // nothing and the last record of each id is the one every body takes. The raise of the
  // largest id wraps to the smallest, as the device's 32-bit addition does.
  std::int32_t previous = 0;
  std::int32_t high = -1;
  for (const auto& note : noteArray) {
    if (note->uid == previous) {
      note->uid = static_cast<std::int32_t>(static_cast<std::uint32_t>(note->uid) + 1u);
    }
    previous = note->uid;
    high = std::max(high, note->uid);
  }
  // The last record of each id: a table indexed by the id for the ids from 0 up to a few
  // times the record count (primary keys are counted from 1), the records sorted by id for
  // the others (ids read from damaged or foreign bytes).
  const std::int64_t tableSize =
      std::min<std::int64_t>(std::int64_t{high} + 1,
                             4 * static_cast<std::int64_t>(noteArray.size()) + 4096);
  std::vector<const MzNoteNode*> byId(static_cast<std::size_t>(tableSize), nullptr);
  std::vector<const MzNoteNode*> others;
  for (const auto& note : noteArray) {
    if (note->uid >= 0 && note->uid < tableSize) {
      byId[static_cast<std::size_t>(note->uid)] = note.get();
    } else {
      others.push_back(note.get());
    }
  }
  std::stable_sort(others.begin(), others.end(),
                   [](const MzNoteNode* a, const MzNoteNode* b) { return a->uid < b->uid; });
  auto lastWithId = [&](std::int32_t uid) -> const MzNoteNode* {
    if (uid >= 0 && uid < tableSize) return byId[static_cast<std::size_t>(uid)];
    auto it = std::upper_bound(others.begin(), others.end(), uid,
                               [](std::int32_t id, const MzNoteNode* n) { return id < n->uid; });
    return it != others.begin() && (*(it - 1))->uid == uid ? *(it - 1) : nullptr;
  };
  posted.reserve(noteValueArray.size());
  for (const auto& body : noteValueArray) {
    auto note = std::make_shared<MzNoteNode>();
    if (const MzNoteNode* known = lastWithId(body->uid)) {
      note->noteDate = known->noteDate;
      note->noteTitle = known->noteTitle;
    }
    note->noteContent = cleanDeletedNoteBody(body->noteValue);
    posted.push_back(std::move(note));
  }
  return posted;
}

void scanDelNoteThread(ScanContext& scan) {
  auto db = openCarveDatabase(scan, notesCandidates(), "NoteDB is not exist");
  if (!db) return;
  carveDeletedNotePages(*db, db->isWalFile(), scan.bIOS7DeviceNode, scan.lists.noteArray,
                        scan.lists.noteValueArray);
  for (auto& note : assembleDeletedNotes(scan.lists.noteArray, scan.lists.noteValueArray)) {
    scan.nc.post("ScanDelNoteInfo", std::move(note));
  }
  scan.postProgress(85);
}
