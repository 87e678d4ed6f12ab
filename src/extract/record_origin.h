// Where a record came from: a live row of a device database, or a place in a database's bytes
// that a carver recovered it from.
//
// A live record names its database file ("sms.db", the last component of the device path),
// its table and its row id. A carved record names its database file, the page that holds it
// (counted as SQLite counts pages, the first page being 1), the byte offset in the file where
// the carver found it, and the kind of place: a freeblock, the unallocated gap of a page, a
// freelist page, the bytes past a b-tree page's cells, an overflow page, a frame of the
// write-ahead log (with the frame's number, the commit it belongs to and whether its checksum
// holds), the rollback journal, a live cell of the database file whose row the write-ahead
// log has since removed or changed ("superseded by the log"), or "record signature" for a
// record found by matching its header bytes anywhere in a page, without knowing which of
// those places it lay in.
//
// A record a scanner made without either (a built-in bookmark) has no origin: its kind is
// None, it renders as "" and gives no fields.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

struct RecordOrigin {
  enum class Kind { None, Live, Carved };
  enum class Place {
    None,
    Freeblock,
    Unallocated,
    Freelist,
    BeyondBtree,
    Overflow,
    LogFrame,
    Journal,
    RecordSignature,
    SupersededByLog,  // a live cell of the database file whose row the log removed or changed
  };

  Kind kind = Kind::None;
  std::string file;  // the database's file name, "sms.db"
  // Live records.
  std::string table;        // empty when the record is no table row (a property list entry)
  std::int64_t rowid = -1;  // -1 when not known
  // Carved records.
  std::int64_t page = 0;     // from 1; 0 when not known
  std::int64_t offset = -1;  // byte offset in the file; -1 when not known
  Place place = Place::None;
  // Log frames: the frame's number in the log and the commit it belongs to (both from 1), and
  // whether the frame's checksum does not hold.
  std::int64_t frame = 0;
  std::int64_t commit = 0;
  bool badChecksum = false;

  static RecordOrigin live(std::string file, std::string table, std::int64_t rowid);
  static RecordOrigin carved(std::string file, std::int64_t page, std::int64_t offset, Place place);
  static RecordOrigin logFrame(std::string file, std::int64_t page, std::int64_t offset,
                               std::int64_t frame, std::int64_t commit, bool badChecksum);

  bool known() const { return kind != Kind::None; }
  bool operator==(const RecordOrigin&) const = default;
};

// The place as a reader calls it: "freeblock", "unallocated", "freelist", "beyond b-tree",
// "overflow", "log frame", "journal", "record signature", "superseded by the log"; "" for
// None.
const char* placeName(RecordOrigin::Place place);

// The place with its particulars: a log frame as "log frame 3 of commit 2", followed by
// ", bad checksum" when its checksum does not hold; the other places as placeName().
std::string placeText(const RecordOrigin& origin);

// The origin as one readable line: "live row 42 of message in sms.db", "carved from sms.db,
// page 7, offset 28731 (freeblock)"; what is not known is left out. "" when it has no origin.
std::string originText(const RecordOrigin& origin);

// The origin as named fields for a JSON object, in this order and only those that apply:
// kind ("live" or "carved"), file, table, rowid for a live record; kind, file, page, offset,
// place, and for a log frame frame, commit and badChecksum, for a carved one. Empty when it
// has no origin.
using OriginValue = std::variant<std::string, std::int64_t, bool>;
std::vector<std::pair<std::string, OriginValue>> originFields(const RecordOrigin& origin);
