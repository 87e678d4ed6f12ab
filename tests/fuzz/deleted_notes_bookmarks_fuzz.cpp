// Fuzz target: the deleted-note carver (all three note layouts and the body records, then
// the assembly) and the deleted-bookmark carver on arbitrary database bytes.
//
// The first input byte chooses the form: odd, the rest is the whole file as it stands
// (wholly random bytes, a truncated file, a header with any page size); even, a valid
// 100-byte database header is laid over the start, with the page size from the next two
// bytes (0, 1 meaning 65536, or any other value), the write version from the low bit of the
// byte after and the schema format (4, whose records hold the bodiless integer types 8 and
// 9, or 1) from its next bit, and every page after the first made a table leaf, so that the carvers
// reach their page tests and record readers on random pages, cell pointers past the page included.
// Besides memory errors, the target traps when a carver breaks one of its promises: a null
// record, a posted note count that differs from the bodies carved.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "carve/deleted_bookmarks_scanner.h"
#include "carve/deleted_notes_scanner.h"

namespace {

std::vector<std::uint8_t> databaseBytes(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if ((data[0] & 1) == 0) {
    std::uint8_t header[100] = {};
    std::memcpy(header, "SQLite format 3", 16);
    header[16] = size > 1 ? data[1] : 0x04;
    header[17] = size > 2 ? data[2] : 0x00;
    header[18] = header[19] = size > 3 && (data[3] & 1) ? 2 : 1;
    header[47] = size > 3 && (data[3] & 2) ? 4 : 1;
    if (bytes.size() < sizeof header) bytes.resize(sizeof header);
    std::memcpy(bytes.data(), header, sizeof header);
    const std::size_t pageSize = header[16] << 8 | header[17];
    if (size > 4 && (data[4] & 1) && pageSize >= 16) {
      for (std::size_t page = pageSize; page < bytes.size(); page += pageSize) bytes[page] = 0x0D;
    }
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const CarveDatabase db = CarveDatabase::fromImage(DatabaseImage(databaseBytes(data, size)));
  for (bool writeAhead : {true, false}) {
    for (bool iOS7 : {false, true}) {
      if (!writeAhead && iOS7) continue;  // the rollback layout does not look at the flag
      RecordList<MzNoteNode> notes;
      RecordList<MzNoteValueNode> bodies;
      carveDeletedNotePages(db, writeAhead, iOS7, notes, bodies);
      for (const auto& n : notes) {
        if (!n) __builtin_trap();
      }
      const auto posted = assembleDeletedNotes(notes, bodies);
      if (posted.size() != bodies.size()) __builtin_trap();
      for (const auto& p : posted) {
        if (!p) __builtin_trap();
      }
    }
  }
  for (const auto& bookmark : carveDeletedBookmarks(db)) {
    if (!bookmark) __builtin_trap();
  }
  return 0;
}
