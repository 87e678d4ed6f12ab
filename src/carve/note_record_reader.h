// Reading the fields of a carved note or body record, and the schema formats they come in.
//
// The note layouts (note_record_layouts.h) find a record's header start, serial-type count
// and column positions; the reader here reads the columns at those positions with the
// field readers of carve_primitives.h, bounded by the end of the record's page.
#pragma once

#include <cstdint>
#include <string>

#include "carve/carve_primitives.h"
#include "carve/database_image.h"

namespace carve {

// ---- Schema formats ------------------------------------------------------------------------
//
// The note layouts look for runs of one-byte integer columns. Schema format 1 writes every
// small integer as serial type 1 with a one-byte body; schema format 4 (what every SQLite
// since 3.7.10 creates, so every store set up on iOS 6 or later) writes the values 0 and 1
// as the bodiless serial types 8 and 9 instead. A format 4 record is therefore the format 1
// record with some 0x01 header bytes turned into 0x08 or 0x09 and those bodies left out;
// the field readers already take no body for types 8 and 9, so the data offsets follow.
// Formats 1 to 3 never write types 8 and 9, so the header's format number decides whether
// the format 4 forms are looked for at all.

// True when the file's header gives schema format 4 (the 32-bit number at offset 44).
bool writesBodilessIntegers(const DatabaseImage& file);

// A serial type of a small integer column: 0x01, or 0x08 and 0x09 where the file writes
// bodiless integers. Each signature begins with the entity column (Z_ENT: 3 for a note, 4
// for a body), which is never 0 or 1 and so is 0x01 in both formats.
inline bool isSmallInteger(std::uint8_t type, bool bodiless) {
  return type == 0x01 || (bodiless && (type == 0x08 || type == 0x09));
}

// One carved record: its header start, serial-type count and running data offset, the end
// of its page (no field is read past it: see the field readers) and the buffer every field
// is read into. With `bodiless`, the serial types 8 and 9 are the integers 0 and 1, as
// schema format 4 writes them: they read as "0" and "1" and take no body bytes, so the
// record reads as its schema format 1 twin (type 1 with a body of 0 or 1) does.
class NoteRecordReader {
 public:
  NoteRecordReader(const DatabaseImage& file, std::int64_t header, std::int64_t count,
                   std::int64_t end, FieldBuffer& field, bool bodiless)
      : file_(file),
        header_(header),
        count_(count),
        end_(end),
        field_(field),
        bodiless_(bodiless) {}

  // One-byte serial type at header + position.
  const FieldBuffer& oneByte(std::int64_t position) {
    if (bodilessInteger(position)) return field_;
    AnalyseDBDataFile(file_, position, dataOffset_, header_, count_, field_, end_);
    return field_;
  }
  // Two-byte serial type at header + position.
  const FieldBuffer& twoByte(std::int64_t position) {
    AnalyseAlterbleDB(file_, position, dataOffset_, header_, count_, field_, end_);
    return field_;
  }
  // Two-byte serial type with a moved base and a head adjustment.
  const FieldBuffer& twoByteFrom(std::int64_t base, std::int64_t head, std::int64_t position) {
    AnalyseAlterbleDBFile(file_, position, dataOffset_, base, head, count_, field_, end_);
    return field_;
  }
  const FieldBuffer& read(std::int64_t position, bool twoBytes) {
    return twoBytes ? twoByte(position) : oneByte(position);
  }

  // Steps over a field that is not kept, exactly as reading it would move the data offset:
  // by the body length of its serial type (no body for types 0 and 8 to 13, none for a
  // two-byte type above 4095).
  void skip(std::int64_t position) {
    dataOffset_ += getFieldDataLengthBy(file_.at(header_ + position));
  }
  void skipTwoByte(std::int64_t position) {
    const std::int32_t type =
        getAlterInteger(file_.at(header_ + position), file_.at(header_ + position + 1));
    if (type <= 4095) dataOffset_ += getFieldDataLengthBy(type);
  }
  void skip(std::int64_t position, bool twoBytes) {
    twoBytes ? skipTwoByte(position) : skip(position);
  }

  // The value the one-byte reader's decimal text at `position` gives, read without the
  // text for an integer type: its body cut to signed 32 bits (0 and 1 for the bodiless
  // types; 0 for a body the reader refuses). Other types go through the text (0 when there
  // is none).
  std::int32_t integer(std::int64_t position);

  // The modification date at `position` as the date text. Core Data writes its timestamps
  // as reals; SQLite keeps a whole-second value as an integer but one with a fraction of a
  // second as an 8-byte float (serial type 7), whose bits read as an integer would give a
  // nonsense date. Such a body is read as the float it is, its whole seconds taken. No date
  // for a body the reader refuses.
  std::string date(std::int64_t position);

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
  bool bodilessInteger(std::int64_t position);

  const DatabaseImage& file_;
  std::int64_t header_;
  std::int64_t count_;
  std::int64_t end_;
  std::int64_t dataOffset_ = 0;
  FieldBuffer& field_;
  bool bodiless_;
};

}  // namespace carve
