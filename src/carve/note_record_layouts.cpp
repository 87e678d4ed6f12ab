#include "carve/note_record_layouts.h"

#include "base/conversions.h"
#include "carve/note_record_reader.h"
#include "carve/varint.h"

namespace {

// The distance from `offset` to the first byte equal to `wanted` at or after `from`, looking
// no further than kProbeReach bytes past `offset`.
std::int64_t distanceTo(const DatabaseImage& file, std::int64_t offset, std::int64_t from,
                        std::uint8_t wanted) {
  for (std::int64_t at = from; at - offset <= kProbeReach; ++at) {
    if (file.at(at) == wanted) return at - offset;
  }
  return kProbeReach + 1;
}

}  // namespace

namespace carve {
namespace {

// A text field as text: UTF-8 decoded, empty for bytes that are not UTF-8.
std::string fieldText(const FieldBuffer& field) { return GetStringFormChar(field.text()); }

void setTitle(MzNoteNode& note, const FieldBuffer& field) {
  if (!field.empty()) note.noteTitle = fieldText(field);
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
  const Varint content = varintAt(file, i + 3, end);
  if (!content || content.length != w + 1 || !isText(content.value)) return false;
  const std::int64_t refAt = i + 3 + content.length;
  const Varint ref = varintAt(file, refAt, end);
  if (!ref || !isNullOrText(ref.value)) return false;
  const Varint representation = varintAt(file, refAt + ref.length, end);
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

}  // namespace

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
  NoteRecordReader record(file, l - 1, count, end, field, bodiless);
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
  NoteRecordReader record(file, l - 1, 20 + s + t, end, field, bodiless);
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
  NoteRecordReader record(file, i - 1, baseCount + (u > 0 ? 1 : 0), end, field, bodiless);
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

// A body record at `i` (which passed the body signature), read as the body layout has it
// within its page (which ends at `end`): none when its serial types are not those of a
// ZNOTEBODY row.
std::shared_ptr<MzNoteValueNode> bodyAt(const DatabaseImage& file, std::int64_t i, std::int64_t end,
                                        FieldBuffer& field, bool bodiless) {
  const std::int64_t w = carve::bIsAlterbleDBFile(file, i + 4, 6);
  if (!fitsBodyColumns(file, i, w, end)) return nullptr;
  NoteRecordReader record(file, i - 1, w + 7, end, field, bodiless);
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

}  // namespace carve

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

bool CheckNoteBodyMark(const DatabaseImage& file, std::int64_t offset) {
  return file.at(offset + 3) >= 0x10 &&
         (file.at(offset + 4) == 0x00 || file.at(offset + 5) == 0x00);
}
