// Fuzz target: the deleted-contact carver on arbitrary database bytes.
//
// The first input byte chooses the shape: a valid 100-byte header (page size from the next
// byte: 512 to 65536, or the odd values 0 and 1) followed by the input as pages, or the
// input as the whole file; the second byte's high bit chooses the iOS 7 layout. Besides
// memory errors and hangs, the target traps when the carver breaks a promise: progress other
// than one 75 at the end, or a posted contact that is not in delContactArray.
#include <any>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "app/carve_steps.h"
#include "carve/deleted_contacts_scanner.h"
#include "carve/page_walk.h"

namespace {

std::vector<std::uint8_t> fileFrom(const std::uint8_t* data, std::size_t size) {
  if (size < 2 || (data[0] & 1) == 0) return std::vector<std::uint8_t>(data, data + size);
  static const std::uint32_t kPageSizes[] = {512, 1024, 2048, 4096, 8192, 65536, 0, 1};
  const std::uint32_t pageSize = kPageSizes[data[1] % 8];
  std::vector<std::uint8_t> file(100, 0);
  const char magic[] = "SQLite format 3";
  std::memcpy(file.data(), magic, sizeof magic);
  file[16] = static_cast<std::uint8_t>(pageSize >> 8);
  file[17] = static_cast<std::uint8_t>(pageSize & 0xFF);
  file[18] = file[19] = 1;
  file.insert(file.end(), data + 2, data + size);
  // The pages start after the header; pad the first page so page 1 holds the input.
  if (pageSize >= 512 && pageSize <= 65536) file.insert(file.begin() + 100, pageSize - 100, 0);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  NotificationCenter center;
  ScanLists lists;
  DatabasePreparer databases("");
  std::vector<std::shared_ptr<MzContactNode>> posted;
  std::vector<std::int32_t> progress;
  center.addObserver("ScanDelContactInfo", [&](const std::any& o) {
    if (!progress.empty()) __builtin_trap();
    posted.push_back(std::any_cast<std::shared_ptr<MzContactNode>>(o));
  });
  center.addObserver("ScanProgressInfo", [&](const std::any& o) {
    progress.push_back(std::any_cast<std::int32_t>(o));
  });
  ScanContext scan{"", center, lists, databases};
  scan.bIOS7DeviceNode = size > 1 && (data[1] & 0x80) != 0;
  carveDeletedContacts(CarveDatabase::fromImage(DatabaseImage(fileFrom(data, size))), scan);

  if (progress.size() != 1 || progress[0] != 75) __builtin_trap();
  std::set<const MzContactNode*> kept;
  for (const auto& c : lists.delContactArray) kept.insert(c.get());
  for (const auto& c : posted) {
    if (!kept.count(c.get())) __builtin_trap();
  }
  return 0;
}
