#include "device/advanced_photo_scan.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "base/conversions.h"
#include "base/log.h"
#include "base/paths.h"
#include "device/afc_service.h"
#include "extract/item_records.h"
#include "extract/media_types.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxNameBytes = 255;
constexpr std::int32_t kStageShare = 25;

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `name` contains the upper-case `fragment`, ignoring ASCII case.
bool containsFragment(std::string_view name, std::string_view fragment) {
  if (fragment.size() > name.size()) return false;
  for (std::size_t at = 0; at + fragment.size() <= name.size(); ++at) {
    std::size_t i = 0;
    while (i < fragment.size() && asciiUpper(name[at + i]) == fragment[i]) ++i;
    if (i == fragment.size()) return true;
  }
  return false;
}

enum class MediaKind { None, Image, Movie };

// Image list first, then audio and video, as the backup's classification asks. Every
// position of a list counts, the first included: "3G2" (video) and "RAM" (audio) stand first
// in theirs, and their files are as much media as any other.
MediaKind mediaKindOf(std::string_view name) {
  const std::string_view ext = pathExtension(name);
  if (ext.empty()) return MediaKind::None;
  if (GetImageType(ext) >= 0) return MediaKind::Image;
  if (GetAudioType(ext) >= 0 || GetViedoType(ext) >= 0) return MediaKind::Movie;
  return MediaKind::None;
}

// The size of the regular file at `path` (not following a link), or none.
std::optional<std::uint64_t> regularFileSize(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(path, ec);
  if (ec || !fs::is_regular_file(status)) return std::nullopt;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

// One run of the scan: the open service, where copies go, and what has been done so far.
class PhotoScanRun {
 public:
  PhotoScanRun(NotificationCenter& nc, amd::AfcService& afc, const std::function<bool()>& stop,
               AdvancedPhotoScanSummary& summary)
      : nc_(nc), afc_(afc), stop_(stop), summary_(summary) {}

  // Stages 1 to 3: the files of every sub-folder of `root` whose name holds `fragment`.
  void fragmentStage(const std::string& root, std::string_view fragment, std::int32_t base) {
    for (const std::string& entry : listing(root)) {
      if (stopped()) return;
      if (!containsFragment(entry, fragment)) continue;
      if (!acceptName(root, entry)) continue;
      processFolder(root + "/" + entry, base);
    }
    closeStage(base);
  }

  // Stage 4: below every entry of `root`, the sub-folders whose name holds `fragment`.
  void nestedStage(const std::string& root, std::string_view fragment, std::int32_t base) {
    for (const std::string& entry : listing(root)) {
      if (stopped()) return;
      if (!acceptName(root, entry)) continue;
      const std::string middle = root + "/" + entry;
      for (const std::string& inner : listing(middle)) {
        if (stopped()) return;
        if (!containsFragment(inner, fragment)) continue;
        if (!acceptName(middle, inner)) continue;
        processFolder(middle + "/" + inner, base);
      }
    }
    closeStage(base);
  }

  bool stopped() {
    if (!summary_.stopped && stop_ && stop_()) summary_.stopped = true;
    return summary_.stopped;
  }

 private:
  // A device folder's names; a folder that cannot be read lists as empty.
  std::vector<std::string> listing(const std::string& folder) {
    return afc_.listDirectory(folder).value_or(std::vector<std::string>{});
  }

  bool acceptName(const std::string& folder, const std::string& name) {
    if (isSafeDeviceName(name)) return true;
    ++summary_.namesRefused;
    applog::line("advanced photo scan: refused an unsafe name (" + std::to_string(name.size()) +
                 " bytes) in " + folder);
    return false;
  }

  void closeStage(std::int32_t base) {
    if (!stopped()) postProgress(base + kStageShare);
  }

  void postProgress(std::int32_t value) { nc_.post("ScanAdancedprogress", value); }

  // The local folder for the device folder `deviceFolder` ("/DCIM/100APPLE"), made one
  // private component at a time below the local root; none when one cannot be made.
  std::optional<std::string> localFolderFor(const std::string& deviceFolder) {
    std::string local = summary_.localFolder;
    std::size_t at = 1;
    while (at <= deviceFolder.size()) {
      std::size_t end = deviceFolder.find('/', at);
      if (end == std::string::npos) end = deviceFolder.size();
      const std::string component = deviceFolder.substr(at, end - at);
      if (!isSafeDeviceName(component)) return std::nullopt;
      local += "/" + component;
      if (const std::string problem = paths::makePrivateFolder(local); !problem.empty()) {
        applog::line("advanced photo scan: cannot use the folder " + local + ": " + problem);
        return std::nullopt;
      }
      at = end + 1;
    }
    return local;
  }

  void processFolder(const std::string& deviceFolder, std::int32_t base) {
    const std::vector<std::string> names = listing(deviceFolder);
    const std::size_t count = names.size();
    if (count == 0) return;
    const std::optional<std::string> local = localFolderFor(deviceFolder);
    for (std::size_t k = 0; k < count; ++k) {
      if (stopped()) return;
      processFile(deviceFolder, names[k], local);
      postProgress(base + static_cast<std::int32_t>(kStageShare * (k + 1) / count));
    }
  }

  void processFile(const std::string& deviceFolder, const std::string& name,
                   const std::optional<std::string>& localFolder) {
    if (!acceptName(deviceFolder, name)) return;
    const std::string devicePath = deviceFolder + "/" + name;
    if (!localFolder) {
      copyFailed(devicePath, "no local folder");
      return;
    }
    const std::string localPath = *localFolder + "/" + name;
    if (!clearTarget(localPath)) {
      copyFailed(devicePath, "a folder stands at " + localPath);
      return;
    }
    const int code = afc_.copyToLocal(devicePath, localPath);
    const std::optional<std::uint64_t> size = regularFileSize(localPath);
    if (code != 0 || !size || *size == 0) {
      // An empty device file leaves an empty copy: it is no photo, and no record points at it.
      std::error_code ignored;
      fs::remove(localPath, ignored);
      copyFailed(devicePath, "copy failed");
      return;
    }
    ++summary_.filesCopied;
    const MediaKind kind = mediaKindOf(name);
    if (kind == MediaKind::None) return;
    auto record = std::make_shared<MzPhotoAndVideoNode>();
    record->filePath = localPath;
    record->fileSizeNumber = *size;
    record->fileNodeName = name;
    record->fileNodeSize = sizeText(*size);
    record->devicePath = devicePath;
    record->sourceFolder = summary_.localFolder;
    if (kind == MediaKind::Movie) record->bmov = true;
    ++summary_.recordsPosted;
    nc_.post("ScanPhotoAndVideo", record);
  }

  // Makes room for a copy at `localPath`: a copy of an earlier scan, or a link, is removed
  // (the link itself, never what it points at). False when a folder stands there.
  static bool clearTarget(const std::string& localPath) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(localPath, ec);
    if (ec || !fs::exists(status)) return true;
    if (fs::is_directory(status)) return false;
    return fs::remove(localPath, ec) && !ec;
  }

  void copyFailed(const std::string& devicePath, const std::string& why) {
    ++summary_.copiesFailed;
    applog::line("advanced photo scan: " + why + ": " + devicePath);
  }

  NotificationCenter& nc_;
  amd::AfcService& afc_;
  const std::function<bool()>& stop_;
  AdvancedPhotoScanSummary& summary_;
};

}  // namespace

bool isSafeDeviceName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.size() > kMaxNameBytes) return false;
  return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

AdvancedPhotoScanSummary scanDiskAidMediaThread(NotificationCenter& nc, DeviceManager& manager,
                                                int position, const std::string& localFolder,
                                                std::function<bool()> shouldStop) {
  AdvancedPhotoScanSummary summary;
  summary.localFolder = localFolder;
  {
    amd::AfcService afc(manager);
    summary.connectCode = afc.open(position);
    summary.connected = summary.connectCode == 0;
    if (summary.connected) summary.folderProblem = paths::makePrivateFolder(localFolder);
    if (summary.connected && summary.folderProblem.empty()) {
      nc.post("ScanAdancedprogress");
      PhotoScanRun run(nc, afc, shouldStop, summary);
      run.fragmentStage("/DCIM", "APPLE", 0);
      if (!run.stopped()) run.fragmentStage("/PhotoData/Sync", "SYNCD", 25);
      if (!run.stopped()) run.fragmentStage("/Photos/Sync", "SYNCD", 50);
      if (!run.stopped()) run.nestedStage("/PhotoStreamsData", "APPLE", 75);
    } else if (summary.connected) {
      applog::line("advanced photo scan: cannot use the folder " + localFolder + ": " +
                   summary.folderProblem);
    }
  }
  nc.post("ScanAdancedFinished");
  return summary;
}
