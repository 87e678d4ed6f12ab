// The deleted-calls step of a scan: carves freed records out of the raw pages of the
// database's private copy and posts each one.
//
// The database is call_history.db (key 2b2b0084a1bc3a5ac8c27afdf14afb42c61a19ca, then
// ff1324e6b949111b2fb449ecddb50c89c3699a78, else its device path in the file index); a
// backup without it logs "messageDB is not exist" and ends without notifications. Table
// and index leaf pages whose first cell looks like a call record are probed at every byte
// for the serial types of a call's flags and contact id; from each match the carver steps
// back four bytes to the header start and reads number, date, duration and flags. Each call
// is posted as "ScanDelCallHistoryInfo" with its duration text and the name of the contact
// the number belongs to; "ScanProgressInfo" 90 follows the last one.
//
// The serial-type count (where the bodies start) is 13 on iOS 6 and later
// (currentNodeIsiOS6Version); older backups take it from the header length of the page's
// first cell or of the record itself. Where the page's live first cell can be read, its
// column count is used instead (iOS 7 added the column "answered"), so the bodies are not
// read a byte early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carve/carve_primitives.h"
#include "carve/database_image.h"
#include "carve/page_walk.h"
#include "extract/item_records.h"
#include "extract/scan_lists.h"

using CallHistoryPost = std::function<void(std::shared_ptr<MzCallHistoryNode>)>;
using CallNameLookup = std::function<std::optional<std::string>(const std::string& phone)>;

// The carving itself, for tests, the fuzz target and the benchmark: hands every call carved
// from `db` to `post`, in page order, its name looked up through `nameOf` (none: no names).
// A match without a number is not made: it could not be named, and the results reject a
// call with neither number nor name as empty. Returns how many were handed on. The carve
// converts each record's fields straight from the file (no field buffer, no decimal text for
// integers) and remembers date and duration texts as it goes; every record is the one the
// field readers of carve_primitives.h and the conversions of the extract steps give.
//
// A file of many pages is carved by two threads taking runs of pages in turn. `post` is
// called on the caller's thread only, each run's records once the runs before it are
// posted; records, names and order are those of one carver going through the pages alone.
// `nameOf` is asked on the caller's thread; see CallCarvers for the other.
struct CallCarvers {
  // One carver only, for comparison.
  bool one = false;
  // Names the second carver's records on its own thread: a lookup with the same answers as
  // `nameOf` that shares nothing with it. Without it the caller's `nameOf` names them when
  // it posts them.
  CallNameLookup secondNameOf;
};
std::int64_t carveDeletedCalls(const CarveDatabase& db, bool currentNodeIsiOS6Version,
                               const CallNameLookup& nameOf, const CallHistoryPost& post,
                               const CallCarvers& carvers = {});

// The number of columns of the record in the table leaf cell at `cell` (payload-length and
// rowid varints, then the record header), or 0 when the header does not parse: a varint
// that does not end before `end` (the end of the cell's page), a length below 2 or above
// 2048, serial types that do not end where the header length says, or a header and bodies
// that do not fill the payload exactly.
std::int64_t cellColumnCount(const DatabaseImage& file, std::int64_t cell,
                             std::int64_t end = carve::kNoEnd);

// ---- Byte probes of the call layout ---------------------------------------------------------

// The value c of the byte just before the nearest 0x00 byte at or before `offset` (bytes
// before the file count as 0x00): 7 when c is 7 or 8, c - 1 when c is 9..11, else 0.
std::int64_t accquireFieldLength(const DatabaseImage& file, std::int64_t offset);
// True when the byte at `offset` is 0x11.
bool accquireField(const DatabaseImage& file, std::int64_t offset);

// ---- What the call and calendar carvers share ------------------------------------------------

namespace carve {

// A page's bytes and the few after it (`spill`), read through a pointer: the file's own bytes
// where the page and its spill lie inside the file, else a copy with zero bytes past the end
// of the file (and before its start), as DatabaseImage::at() reads them.
class PageBytes {
 public:
  PageBytes(const DatabaseImage& file, std::int64_t pageSize, std::size_t spill);
  const std::uint8_t* at(std::int64_t page);

 private:
  const DatabaseImage& file_;
  std::int64_t needed_;
  std::vector<std::uint8_t> scratch_;
};

// One field as the one-byte and two-byte field readers give it into a field buffer, but
// without the buffer: no result, an integer (serial types 1..7, cut to signed 32 bits), or
// the bytes of a body up to its first zero byte (as FieldBuffer::text() holds them). The
// bytes point into the file and stay valid while it lives.
struct RecordField {
  enum class Kind { kNone, kInteger, kBytes };
  Kind kind = Kind::kNone;
  std::int32_t integer = 0;
  std::string_view bytes;
  // The most characters the buffer keeps (its capacity less one): an integer's decimal text
  // is cut there too.
  std::size_t cut = 0;

  // FieldBuffer::empty(): no result, or a body whose text is empty.
  bool empty() const { return kind == Kind::kNone || (kind == Kind::kBytes && bytes.empty()); }
  // GetStringFormChar() of the buffer's text (an integer as its decimal text).
  std::string text() const;
  // strtoll() of the buffer's text: the integer itself (unless its text was cut), 0 for no
  // result.
  std::int64_t number() const;
};

// The readers AnalyseDBDataFile (and AnalyseTheDBDataFile, AnalyseAlterbleDBFile) over one
// record: serial type at typeBase + position, body at bodyBase + D with the running data
// offset D starting at 0, bodies cut where a field buffer of `capacity` bytes cuts them, and
// a field that runs past `end` (the end of the record's page) refused as those readers
// refuse it.
class RecordReader {
 public:
  RecordReader(const DatabaseImage& file, std::int64_t typeBase, std::int64_t bodyBase,
               std::size_t capacity, std::int64_t end = kNoEnd)
      : file_(file), typeBase_(typeBase), bodyBase_(bodyBase), cut_(capacity - 1), end_(end) {}

  // One-byte serial type.
  RecordField oneByte(std::int64_t position);
  // Two-byte serial type (getAlterInteger of the byte at the position and the next one).
  RecordField twoByte(std::int64_t position);

 private:
  RecordField body(std::int64_t length);

  const DatabaseImage& file_;
  std::int64_t typeBase_;
  std::int64_t bodyBase_;
  std::size_t cut_;
  std::int64_t end_;
  std::int64_t dataOffset_ = 0;
};

// True when one of the eight bytes at `bytes`, or-ed with `orMask`, equals `value`.
bool anyByteIs(const std::uint8_t* bytes, std::uint8_t orMask, std::uint8_t value);

// The capacity of the field buffer a carver of `db` reads text fields into (its page size).
std::size_t fieldCapacity(const CarveDatabase& db);

// getCallHistoryDuration(seconds), the same texts formatted without printf.
std::string callDurationText(std::int32_t seconds);

}  // namespace carve
