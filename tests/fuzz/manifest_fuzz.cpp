// Fuzz target: the Manifest.mbdb reader and the property-list reader on arbitrary bytes.
//
// The same bytes are read as a manifest (with an observer on every notification and the
// media hand-off set, as a scan has them) and parsed as a property list, the way the
// catalogue reads Info.plist and Manifest.plist. Besides memory errors, the target traps
// when the reader breaks one of its promises: progress outside 0..20, a record announced
// but not kept, or a count that disagrees with the index.
#include <any>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/notification_center.h"
#include "catalogue/manifest_reader.h"
#include "catalogue/plist_file.h"

namespace {

struct Observers {
  NotificationCenter center;
  std::size_t announced = 0;
  std::int32_t lastProgress = -1;
  Observers() {
    center.addObserver("FindBackUpDirFileInfo", [this](const std::any& o) {
      auto record = std::any_cast<std::shared_ptr<MzTreeDirNode>>(o);
      if (!record || record->filePath.size() > 259 || record->fileDomain.size() > 259) {
        __builtin_trap();
      }
      ++announced;
    });
    center.addObserver("ScanProgressInfo", [this](const std::any& o) {
      auto value = std::any_cast<std::int32_t>(o);
      if (value < 0 || value > 20 || value < lastProgress) __builtin_trap();
      lastProgress = value;
    });
  }
};

// Walks a parsed value so that every node of the converted tree is touched.
std::size_t countNodes(const PlistValue& value, int depth) {
  if (depth > 10000) __builtin_trap();
  std::size_t n = 1;
  if (const PlistArray* a = value.asArray()) {
    for (const PlistValue& v : *a) n += countNodes(v, depth + 1);
  } else if (const PlistDict* d = value.asDict()) {
    for (const auto& [key, v] : *d) n += key.size() > 0 ? countNodes(v, depth + 1) : 1;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Observers observers;
  observers.announced = 0;
  observers.lastProgress = -1;
  FileIndex index;
  ManifestReadOptions options;
  options.nc = &observers.center;
  options.bIOSRecoveryMode = size > 0 && (data[size - 1] & 1) != 0;
  std::size_t handedOver = 0;
  options.GetMediaFileByNode = [&](const std::shared_ptr<MzTreeDirNode>&) { ++handedOver; };
  ManifestReadResult result =
      readManifestMbdbBytes(data, size, "/nonexistent-retrievo-fuzz", index, options);
  if (result.entries != index.size() || handedOver != index.size() ||
      observers.announced != index.size()) {
    __builtin_trap();
  }
  if (result.status == ManifestStatus::Read && !options.bIOSRecoveryMode && !index.empty() &&
      observers.lastProgress != 20) {
    __builtin_trap();  // a manifest read to its end ends at 20
  }
  if (!index.empty()) (void)getFileKeyBytheFilepath(index, index.back()->filePath);

  if (auto value = parsePlist(data, size)) (void)countNodes(*value, 0);
  return 0;
}
