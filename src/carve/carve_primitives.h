// The primitives every deleted-record carver shares: hex text of file bytes, number
// decoding, serial-type lengths, the field readers, the signature families, the deleted
// marks, the byte probes and the last-page text.
//
// Everything works on absolute byte offsets into a DatabaseImage (the database file held in
// memory). Offsets are signed 64-bit: a byte outside the file reads as 0x00, so a carver may
// step back from a match past the start of the file or probe past its end without care.
// Nothing here keeps state, allocates per probe or reports an error; a missing result is a
// failed match for the caller.
//
// Two conventions of the record layout are used throughout:
//  - header start H: the offset of the serial type of a record's first column (the rowid
//    alias, serial type 0); H - 1 is the header-length byte, the varint before it the rowid.
//    Header position P is the byte at H + P.
//  - data offset D: the running count of body bytes already consumed; every field reader
//    reads its body at the data start + D and advances D by the body length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "carve/database_image.h"

namespace carve {

// ---- Bytes and numbers -------------------------------------------------------------------

// Writes the lowercase hex text of the `longth` bytes at `offset` ("%02x" per byte, high
// nibble first) into `theChar`, which must hold 2 * longth + 1 characters, and
// NUL-terminates it. Bytes past the end of the file render as "00". Returns `theChar`, or
// null (nothing written) when `theChar` is null, `offset` is 0 or negative, or `longth` is 0.
char* getHexString(const DatabaseImage& file, std::int64_t offset, std::size_t longth,
                   char* theChar);

// Copies the `longth` raw bytes at `offset` into `buffer` (zero past the end of the file).
// Returns `buffer`, or null when `buffer` is null, `offset` is 0 or negative, or `longth` is 0.
std::uint8_t* readData(const DatabaseImage& file, std::uint8_t* buffer, std::int64_t offset,
                       std::size_t longth);

// The unsigned value of the first `longth` hex digits of `text`, most significant first:
// 'a'..'f' count 10..15 (lowercase only), '0'..'9' their value, any other character 0.
// 0 when `text` is null or shorter than `longth`.
std::uint64_t DemaNumberFormHexChar(const char* text, std::size_t longth);

// The `size` bytes of `buffer` from index `point` as an unsigned big-endian number (the
// low 64 bits when size > 8). SQLite's signed integers are therefore read as unsigned.
std::uint64_t readBigEndian(const std::uint8_t* buffer, std::size_t point, std::size_t size);

// A two-byte header varint from its bytes: for a first byte 0x80..0xBF and a second byte
// below 0x80 it is ((first & 0x7F) << 7) | num. Other byte pairs follow the same bit
// rule (first's bits without leading zeros, num's bits padded to at least 7, a leading
// "10" dropped), so e.g. (0x01, 0x05) gives 5 and (0xC1, 0x05) 0x6085.
std::int32_t getAlterInteger(std::uint8_t first, std::uint8_t num);

// The body length of a column of serial type `type` (SQLite record format); 0 for types 8
// to 13 and for negative types. Inline: every carver asks it for every field it reads.
inline std::int64_t getFieldDataLengthBy(std::int64_t type) {
  if (type < 0) return 0;
  if (type <= 4) return type;
  if (type == 5) return 6;
  if (type == 6 || type == 7) return 8;
  if (type <= 13) return 0;
  return type % 2 == 0 ? (type - 12) / 2 : (type - 13) / 2;
}

// The page kind of the b-tree page at `offset` from its first byte: 1 table leaf (0x0D),
// 2 table interior (0x05) or a zero byte (so every page past the end of the file), 3 index
// interior (0x02), 4 index leaf (0x0A), -1 anything else and offset 0 or before the file.
int getPageType(const DatabaseImage& file, std::int64_t offset);

// True when the byte at `offset` is 0x02 (at offset 18: the file is in write-ahead mode).
bool checkSQliteVersion(const DatabaseImage& file, std::int64_t offset);

// ---- Field readers ------------------------------------------------------------------------
//
// Every reader takes `end`, the end of the page (or cell) the record lies in: a serial type
// at or past it reads as no field, and a field whose body runs past it is refused (no result,
// the data offset moved past it as a read would, so the fields after it stay where they are
// and are refused too). A record's header and local bodies never cross its page's end, so
// what lies past it belongs to another page. Without an end (kNoEnd) a field is read as far
// as its body goes, bytes past the end of the file as zero.

inline constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::max();

// The output of a field reader: a zero-filled buffer of fixed capacity (the page size for
// text fields; at least 260 bytes where an integer may come back as decimal text), reused
// from field to field without allocating. Each reader empties it first, as a fresh
// zero-filled buffer would be, so no result leaves it empty. A body longer than
// capacity - 1 bytes is cut there, so the content always ends in a zero byte.
class FieldBuffer {
 public:
  explicit FieldBuffer(std::size_t capacity = 260) : bytes_(capacity < 2 ? 2 : capacity, 0) {}

  std::size_t capacity() const { return bytes_.size(); }
  // The text as the zero-filled buffer holds it: the bytes before the first zero byte.
  std::string_view text() const;
  bool empty() const { return used_ == 0 || bytes_[0] == 0; }
  // Every byte the last read wrote, zero bytes included (a blob's body).
  std::string_view raw() const { return {reinterpret_cast<const char*>(bytes_.data()), used_}; }

  // Used by the readers.
  void clear();
  void assignBody(const DatabaseImage& file, std::int64_t offset, std::int64_t length);
  void assignText(std::string_view text);

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t used_ = 0;
};

// One-byte serial type at H + P (H = `offset`, P = `postion`), body at H + L + D
// (L = `length`, the serial-type count; D = `dataoff`). Types 1..7 are integers, read
// big-endian, cut to signed 32 bits and written as decimal text ("-1" for 0xFFFFFFFF in a
// type 4 body). Types 14 and above are text or blob, copied raw. Type 0 and 8..13 give no
// result and leave D unchanged; otherwise D grows by the body length. True when a result
// was produced.
bool AnalyseDBDataFile(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataoff,
                       std::int64_t offset, std::int64_t length, FieldBuffer& data,
                       std::int64_t end = kNoEnd);

// Moves D past the field AnalyseDBDataFile would read at H + P without reading it: by the
// body length of the one-byte serial type there (nothing for types 0 and 8 to 13). For the
// columns a carver does not keep.
void skipDBDataField(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataoff,
                     std::int64_t offset);

// As AnalyseDBDataFile with the base moved by the head adjustment A (`head`): serial type
// at H + A + P, body at H + A + L + D.
bool AnalyseTheDBDataFile(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataoff,
                          std::int64_t offset, std::int64_t head, std::int64_t length,
                          FieldBuffer& data, std::int64_t end = kNoEnd);

// Two-byte serial type at H + P and H + P + 1 (getAlterInteger), body at H + L + D copied
// raw. A decoded type above 4095 gives no result and leaves D unchanged; otherwise D grows
// by the body length (a body of length 0 still counts as no result).
bool AnalyseAlterbleDB(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataOff,
                       std::int64_t offset, std::int64_t length, FieldBuffer& Data,
                       std::int64_t end = kNoEnd);

// Moves D past the field AnalyseAlterbleDB would read at H + P without reading it.
void skipAlterbleField(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataOff,
                       std::int64_t offset);

// As AnalyseAlterbleDB with the head adjustment: serial type at H + A + P and the byte
// after it, body at H + A + L + D.
bool AnalyseAlterbleDBFile(const DatabaseImage& file, std::int64_t postion, std::int64_t& dataoff,
                           std::int64_t offset, std::int64_t Head, std::int64_t length,
                           FieldBuffer& data, std::int64_t end = kNoEnd);

// One-byte serial type at H + P; reads only the one byte at H + L + D. Types 1..9 give
// that byte as decimal text, types 14 and above the byte itself as a one-character text;
// 0 and 10..13 give no result. D grows by exactly 1 when a result is produced.
bool AnalyseMessageDBDataFile(const DatabaseImage& file, std::int64_t postion,
                              std::int64_t& dataoff, std::int64_t offset, std::int64_t length,
                              FieldBuffer& data, std::int64_t end = kNoEnd);

// ---- Signature families --------------------------------------------------------------------

// 1 when the hex text begins with one of the signatures of family `type` (1..6), -1 when
// none matches (and for any other family), 0 when `text` is null. A signature longer than
// the text never matches.
int bCheckDataIsValid(const char* text, int type);

// Sliding tests over the windows of `longth` characters that start at characters 0, 1, ...
// up to but not including strlen(text) - longth (so the last possible window is not tried).
// Windows start at every character, so a signature may match across a nibble boundary.
// False for a null text.
bool bcheckSubStringIsValid(const char* text, int type, std::size_t longth);
// ... true at the first window whose first four characters are "0600".
bool bcheckChatIOS6SubStringIsValid(const char* text, std::size_t longth);
// ... true at the first window that begins with "0800010000", "0800010011", "0800020011",
// "0800020000" or "0800090011".
bool bcheckMessageIOS6SubStringIsValid(const char* text, std::size_t longth);

// The same tests straight on the file, without allocating: the hex text of the `byteCount`
// bytes at `offset` (byteCount at most 64; offset 0 or before the file gives the missing-text
// answer: 0 for signatureFamilyAt, false for the sliding tests).
int signatureFamilyAt(const DatabaseImage& file, std::int64_t offset, std::size_t byteCount,
                      int type);
bool subStringIsValidAt(const DatabaseImage& file, std::int64_t offset, std::size_t byteCount,
                        int type, std::size_t window);
bool chatIOS6SubStringIsValidAt(const DatabaseImage& file, std::int64_t offset,
                                std::size_t byteCount, std::size_t window);
bool messageIOS6SubStringIsValidAt(const DatabaseImage& file, std::int64_t offset,
                                   std::size_t byteCount, std::size_t window);

// True when the first two bytes at `offset` are a header-length byte of family `type`
// (1..7) followed by 0x00 (the rowid column's serial type):
//   1: 0a 09   2: 13 22 23   3 and 7: 20 21 22 2a 2c 2b   4: 23 24 26 25
//   5: 0c 14 19 0d 1a 15     6: 15 14
// False for another family, for `longth` below 2 and for offset 0 or before the file.
bool getDeletedMark(const DatabaseImage& file, std::int64_t offset, std::size_t longth, int type);

// ---- Byte probes (each reads the byte at `offset`) -----------------------------------------

// 1 when the byte is 0x80..0x89 (first byte of a two-byte serial type), else 0.
int bNoteAlter(const DatabaseImage& file, std::int64_t offset);
// 1 unless the byte is 0x09.
int bImageURLAlter(const DatabaseImage& file, std::int64_t offset);
// 1 unless the byte is 0x04.
int IsAlterAboutContent(const DatabaseImage& file, std::int64_t offset);
// 1 unless the byte is 0x55.
int ISAlterMessageContentFiled(const DatabaseImage& file, std::int64_t offset);
// 1 when the byte is 121..152 (0x79..0x98), else 0.
int ISAlterPropertFiled(const DatabaseImage& file, std::int64_t offset);
// 0 when the byte is 0x00; else the distance back to the nearest 0x00 byte before `offset`
// (1 when the byte just before is 0x00). Bytes before the file count as 0x00.
std::int64_t bSortAlter(const DatabaseImage& file, std::int64_t offset);
// Family 2: 1 when the byte is 14 or more, else 0. Family 6: the number of bytes from
// `offset` to the first 0x00 byte at or after it (the end of the file counts as one).
// Other families: 0.
std::int64_t bIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset, int type);
// X is the byte before `offset` when the byte at it is 0x00, else the last non-zero byte of
// the run of non-zero bytes that begins at `offset`. 2 when X is 0x22..0x24, 1 when X is
// 0x12..0x14, else 0.
int GetFildLength(const DatabaseImage& file, std::int64_t offset);
// Always false.
bool AddressIsAlterbleDBFile(const DatabaseImage& file, std::int64_t offset);

// ---- Page text -------------------------------------------------------------------------------

// One character per byte: bytes below 0x20, 0x7F and bytes of 0x80 and above become '.'.
std::string GetLastPageStringWithChar(const std::uint8_t* buffer, std::size_t length);

// The text that follows `subString` in the page text `text` (found case-insensitively, ASCII),
// up to and including the next blank, or up to the last character (exclusive) when no blank
// follows; a taken text of 21 characters or more makes the search go on from 2e + its length
// (e the end of the match). None when `subString` is empty, not found, or no short text is
// found.
std::optional<std::string> getNextSubStringInString(std::string_view text,
                                                    std::string_view subString);

// The same search over one page text for many names: the text is case-folded once.
class PageTextSearch {
 public:
  explicit PageTextSearch(std::string text = std::string());
  // getNextSubStringInString(text, subString).
  std::optional<std::string> after(std::string_view subString) const;

 private:
  std::string text_;
  std::string folded_;
};

}  // namespace carve
