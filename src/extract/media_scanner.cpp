#include "extract/media_scanner.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/conversions.h"
#include "base/log.h"
#include "extract/item_records.h"
#include "extract/media_types.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 3> kCameraRollDomains = {"CameraRollDomain", "MediaDomain",
                                                                "HomeDomain"};
constexpr std::array<std::string_view, 3> kSocialAppDomains = {"AppDomain-com.facebook.Facebook",
                                                               "AppDomain-com.atebits.Tweetie2",
                                                               "AppDomain-com.facebook.Messenger"};

// How many progress steps the cloud folder scan spreads over its files.
constexpr std::uint64_t kCloudProgressParts = 30;

bool isOneOf(const std::string& domain, std::span<const std::string_view> domains) {
  return std::find(domains.begin(), domains.end(), domain) != domains.end();
}

enum class MediaClass { None, Image, Movie };

// Images first; audio is asked before video, though both make a movie record.
MediaClass classOfExtension(std::string_view ext) {
  if (GetImageType(ext) >= 0) return MediaClass::Image;
  if (GetAudioType(ext) >= 0 || GetViedoType(ext) >= 0) return MediaClass::Movie;
  return MediaClass::None;
}

// The size of the regular file at `path`, or none when there is no such file. With
// `followLinks` off, a symbolic link counts as no file.
std::optional<std::uint64_t> regularFileSize(const std::string& path, bool followLinks) {
  if (path.empty()) return std::nullopt;
  std::error_code ec;
  const fs::file_status status = followLinks ? fs::status(path, ec) : fs::symlink_status(path, ec);
  if (ec || !fs::is_regular_file(status)) return std::nullopt;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

void postMediaRecord(const MzTreeDirNode& node, MediaClass media, std::uint64_t size,
                     NotificationCenter& nc) {
  auto record = std::make_shared<MzPhotoAndVideoNode>();
  record->filePath = node.fileKey;
  record->fileSizeNumber = size;
  record->fileNodeName = std::string(lastPathComponent(node.filePath));
  record->fileNodeSize = sizeText(size);
  if (media == MediaClass::Movie) record->bmov = true;
  nc.post(
      isOneOf(node.fileDomain, kCameraRollDomains) ? "ScanPhotoAndVideo" : "ScanAppPhotoAndVideo",
      record);
}

void postSocialAppRecord(const MzTreeDirNode& node, std::uint64_t size, NotificationCenter& nc) {
  auto record = std::make_shared<MzFaceTwitterNode>();
  record->fileSize = sizeText(size);
  record->FileSizeNumber = size;
  record->faceTwitterFileName = std::string(lastPathComponent(node.filePath));
  record->faceTwitterFilePath = node.fileKey;
  nc.post("scanFaceTwitterInfo", record);
}

// The names in `folder`, sorted; empty when it cannot be listed completely.
std::vector<std::string> folderNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) return {};
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

void GetMediaFileByNode(const std::shared_ptr<MzTreeDirNode>& node, NotificationCenter& nc,
                        ScanProblems* problems, CurrentCameraRoll* currentRoll) {
  if (!node || node->isFolder || node->isLink) return;
  const MediaClass media = classOfExtension(pathExtension(node->filePath));
  const bool socialApp = isOneOf(node->fileDomain, kSocialAppDomains);
  if (media == MediaClass::None && !socialApp) return;

  // The camera roll reads the status of its files itself, all at once.
  if (media != MediaClass::None && !socialApp && currentRoll != nullptr &&
      CurrentCameraRoll::takesOver(*node)) {
    currentRoll->add(node, media == MediaClass::Movie);
    return;
  }
  // The status the tree read of the same record, if it did.
  const StoredFileStatus& status = storedFileStatus(*node);
  if (!status.isRegular) {
    if (status.exists || media != MediaClass::None) reportUnstoredMedia(*node, status, problems);
    return;
  }
  const std::uint64_t size = status.size;
  if (media != MediaClass::None) postMediaRecord(*node, media, size, nc);
  if (socialApp) postSocialAppRecord(*node, size, nc);
}

void scanPhotoAndVideoThread(const std::string& folder, NotificationCenter& nc) {
  const std::vector<std::string> names = folderNames(folder);
  const std::uint64_t n = names.size();
  if (n == 0) return;
  // Step k (1 to 29) falls on position floor(k * n / 30); positions where several steps
  // fall post once. The positions never decrease with k, so one pass over k suffices.
  std::uint64_t k = 1;
  std::int32_t steps = 0;
  for (std::uint64_t i = 0; i < n; ++i) {
    bool stepHere = false;
    while (k < kCloudProgressParts && k * n / kCloudProgressParts == i) {
      stepHere = true;
      ++k;
    }
    if (stepHere) nc.post("ScanProgressInfo", ++steps);

    const std::string path = folder + "/" + names[i];
    const std::optional<std::uint64_t> size = regularFileSize(path, false);
    if (size && *size >= kCloudMediaMinimumBytes) nc.post("ScanPhotoAndVideoInfo", path);
  }
}
