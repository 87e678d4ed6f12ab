// Fuzz target: the deleted-calendar and deleted-call carvers on arbitrary database bytes.
//
// The first input byte chooses the shape: odd values take the rest as the whole file (any
// page size, truncated files, one-page files, nonsense headers); even values put a valid
// database header with a page size picked from the byte (0, 1, 512, 1024, 4096, or a small
// odd size) and a write version before the rest, so the carvers walk real-looking pages
// whose cell pointers, headers and serial types are random. Both carvers run with every
// OS flag. Besides memory errors, the target traps when a carver breaks a promise: a
// record it hands over is missing, a text longer than a page, a count that disagrees with
// the records handed over, a duration text missing for a duration of 0 or more.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "carve/deleted_calendar_scanner.h"
#include "carve/deleted_calls_scanner.h"

namespace {

std::vector<std::uint8_t> imageBytes(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  const std::uint8_t shape = data[0];
  std::vector<std::uint8_t> bytes(data + 1, data + size);
  if (shape % 2 == 1) return bytes;
  static constexpr std::uint16_t kPageSizes[] = {0, 1, 512, 1024, 4096, 7, 64, 256};
  const std::uint16_t pageSize = kPageSizes[(shape >> 1) % 8];
  std::vector<std::uint8_t> file(100, 0);
  static constexpr char kMagic[] = "SQLite format 3";
  std::copy(kMagic, kMagic + sizeof kMagic, file.begin());
  file[16] = static_cast<std::uint8_t>(pageSize >> 8);
  file[17] = static_cast<std::uint8_t>(pageSize);
  file[18] = file[19] = (shape & 0x10) ? 2 : 1;
  file.insert(file.end(), bytes.begin(), bytes.end());
  return file;
}

void checkText(const std::string& text, const CarveDatabase& db) {
  if (static_cast<std::int64_t>(text.size()) > db.pageSize + 64) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const CarveDatabase db = CarveDatabase::fromImage(DatabaseImage(imageBytes(data, size)));
  for (bool flag : {false, true}) {
    std::int64_t posted = 0;
    const std::int64_t events =
        carveDeletedCalendarEvents(db, flag, !flag, [&](std::shared_ptr<MzCalenderNode> event) {
          if (!event) __builtin_trap();
          checkText(event->calTitle, db);
          checkText(event->calNote, db);
          ++posted;
        });
    if (events != posted) __builtin_trap();
    posted = 0;
    const std::int64_t calls = carveDeletedCalls(
        db, flag, [](const std::string& phone) { return std::optional<std::string>(phone); },
        [&](std::shared_ptr<MzCallHistoryNode> call) {
          if (!call || call->callType.empty()) __builtin_trap();
          // Only a negative (misread) duration has no duration text.
          if (call->callDuration.empty() && call->callTime >= 0) __builtin_trap();
          checkText(call->callPhone, db);
          ++posted;
        });
    if (calls != posted) __builtin_trap();
  }
  return 0;
}
