#include "carve/note_record_reader.h"

#include <cstring>

#include "base/conversions.h"

namespace carve {
namespace {

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

}  // namespace

bool writesBodilessIntegers(const DatabaseImage& file) {
  const std::uint32_t format = std::uint32_t{file.at(44)} << 24 | std::uint32_t{file.at(45)} << 16 |
                               std::uint32_t{file.at(46)} << 8 | file.at(47);
  return format == 4;
}

std::int32_t NoteRecordReader::integer(std::int64_t position) {
  const std::uint8_t type = typeAt(position);
  if (type >= 1 && type <= 7 && field_.capacity() > kDecimalRoom) {
    const std::int64_t length = getFieldDataLengthBy(type);
    const std::int64_t at = header_ + count_ + dataOffset_;
    dataOffset_ += length;
    if (at > end_ - length) return 0;
    std::uint8_t raw[8];
    file_.copy(at, static_cast<std::size_t>(length), raw);
    const std::uint64_t value = readBigEndian(raw, 0, static_cast<std::size_t>(length));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }
  if (bodiless_ && (type == 8 || type == 9)) return type - 8;
  return decimalValue(oneByte(position).text());
}

std::string NoteRecordReader::date(std::int64_t position) {
  const std::int64_t bodyAt = header_ + count_ + dataOffset_;
  const std::uint8_t type = typeAt(position);
  const bool integerType = (type >= 1 && type <= 7) || (bodiless_ && (type == 8 || type == 9));
  if (!integerType) {
    // A text read as a number, or nothing for types without a body.
    if (!AnalyseDBDataFile(file_, position, dataOffset_, header_, count_, field_, end_)) {
      return {};
    }
    return dateText(decimalValue(field_.text()), 1);
  }
  if (type <= 7 && bodyAt > end_ - getFieldDataLengthBy(type)) {
    integer(position);  // moves the data offset past the refused body
    return {};
  }
  std::int64_t seconds = integer(position);
  if (type == 7) {
    std::uint8_t raw[8];
    file_.copy(bodyAt, sizeof raw, raw);
    const std::uint64_t bits = readBigEndian(raw, 0, sizeof raw);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    // Outside the range a note date can take the float is not a date at all.
    if (!(value > -4.0e9 && value < 4.0e9)) return {};
    seconds = static_cast<std::int64_t>(value);
  }
  return dateText(seconds, 1);
}

bool NoteRecordReader::bodilessInteger(std::int64_t position) {
  if (!bodiless_) return false;
  const std::uint8_t type = typeAt(position);
  if (type != 8 && type != 9) return false;
  field_.assignText(type == 8 ? "0" : "1");
  return true;
}

}  // namespace carve
