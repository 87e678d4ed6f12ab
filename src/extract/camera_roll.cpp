#include "extract/camera_roll.h"

#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "base/conversions.h"
#include "base/log.h"
#include "extract/database_location.h"
#include "extract/device_databases.h"
#include "extract/item_records.h"
#include "extract/media_types.h"

namespace {

constexpr std::string_view kDomain = "CameraRollDomain";
constexpr std::string_view kMedia = "Media/";
constexpr std::string_view kDcim = "DCIM/";
constexpr std::string_view kPhotoData = "PhotoData/";
constexpr std::string_view kMutations = "PhotoData/Mutations/DCIM/";
constexpr std::string_view kRenderFolder = "/Adjustments/";
constexpr std::string_view kRenderStem = "FullSizeRender.";
// Folders of PhotoData that hold the owner's own files rather than derived ones.
constexpr std::string_view kLibraryOriginals[] = {"PhotoData/CPLAssets/", "PhotoData/Sync/"};

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The device path below "Media/".
std::string_view underMedia(std::string_view devicePath) {
  return startsWith(devicePath, kMedia) ? devicePath.substr(kMedia.size()) : std::string_view();
}

// "DCIM/100APPLE" and "IMG_0001.HEIC" of "DCIM/100APPLE/IMG_0001.HEIC".
std::pair<std::string, std::string> folderAndName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {std::string(), std::string(path)};
  return {std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

std::string_view stemOf(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// "DCIM/100APPLE/IMG_0001" of a render at
// "PhotoData/Mutations/DCIM/100APPLE/IMG_0001/Adjustments/FullSizeRender.jpg", else "".
std::string renderedOriginal(std::string_view path) {
  if (!startsWith(path, kMutations)) return {};
  const std::size_t adjustments = path.rfind(kRenderFolder);
  if (adjustments == std::string_view::npos || adjustments <= kMutations.size()) return {};
  const std::string_view name = path.substr(adjustments + kRenderFolder.size());
  if (!startsWith(name, kRenderStem) || name.find('/') != std::string_view::npos) return {};
  const std::string_view original = path.substr(kMutations.size(), adjustments - kMutations.size());
  return std::string(kDcim) + std::string(original);
}

bool isDcim(std::string_view underMediaPath) { return startsWith(underMediaPath, kDcim); }

// Below this many files per thread a second thread costs more than it saves.
constexpr std::size_t kParallelMinimum = 512;

// Runs `work` over [0, n) in two halves at once, the second on a thread of its own, and
// returns when both are done; a small n, or no thread to be had, runs it whole here. Each
// half must touch only what belongs to its own indexes.
template <typename Work>
void inHalves(std::size_t n, Work&& work) {
  const std::size_t half = n / 2;
  std::thread other;
  if (half >= kParallelMinimum) {
    try {
      other = std::thread([&work, half, n] { work(half, n); });
    } catch (const std::system_error&) {
      // No thread to be had: this one does it all.
    }
  }
  work(0, other.joinable() ? half : n);
  if (other.joinable()) other.join();
}

}  // namespace

CurrentCameraRoll::CurrentCameraRoll(PhotoLibrary library) : library_(std::move(library)) {}

CurrentCameraRoll::CurrentCameraRoll(std::future<PhotoLibrary> reading)
    : reading_(std::move(reading)) {}

const PhotoLibrary& CurrentCameraRoll::library() const {
  if (reading_.valid()) library_ = reading_.get();
  return library_;
}

bool CurrentCameraRoll::takesOver(const MzTreeDirNode& node) {
  if (node.fileDomain != kDomain) return false;
  const std::string_view path = underMedia(node.filePath);
  return isDcim(path) || startsWith(path, kPhotoData);
}

void CurrentCameraRoll::add(const std::shared_ptr<MzTreeDirNode>& node, bool movie) {
  if (!node || !takesOver(*node)) return;
  const std::string_view path = underMedia(node->filePath);
  Kept file{node, node->filePath, node->fileKey, 0, movie, {}};
  if (startsWith(path, kPhotoData)) {
    file.renderOf = renderedOriginal(path);
    bool original = false;
    for (std::string_view folder : kLibraryOriginals)
      original = original || startsWith(path, folder);
    if (file.renderOf.empty() && !original) return;  // thumbnails, previews, caches
  }
  kept_.push_back(std::move(file));
}

namespace {

// The library's row of the file at `path` (below "Media/"); iCloud originals are also looked
// up by their folder below PhotoData/.
const PhotoAsset* assetOf(const PhotoLibrary& library, std::string_view path) {
  auto [folder, name] = folderAndName(path);
  if (const PhotoAsset* asset = library.find(folder, name)) return asset;
  if (startsWith(folder, kPhotoData)) {
    return library.find(folder.substr(kPhotoData.size()), name);
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<MzPhotoAndVideoNode> CurrentCameraRoll::recordOf(const Kept& file,
                                                                 const Kept* original) const {
  auto record = std::make_shared<MzPhotoAndVideoNode>();
  record->filePath = file.storedFile;
  record->fileSizeNumber = file.size;
  record->fileNodeName = std::string(lastPathComponent(file.devicePath));
  record->fileNodeSize = sizeText(file.size);
  record->bmov = file.movie;
  record->devicePath = file.devicePath;
  if (!file.renderOf.empty()) {
    describeRender(file, original, *record);
  } else if (const PhotoAsset* asset = assetOf(library(), underMedia(file.devicePath))) {
    record->captureDate = asset->captureDate;
    record->originalFileName = asset->originalFileName;
  }
  return record;
}

void CurrentCameraRoll::describeRender(const Kept& file, const Kept* original,
                                       MzPhotoAndVideoNode& record) const {
  const std::string_view originalPath =
      original != nullptr ? underMedia(original->devicePath) : std::string_view();
  std::string stem(lastPathComponent(file.renderOf));
  if (!originalPath.empty()) {
    record.renderOf = std::string(kMedia) + std::string(originalPath);
    if (const PhotoAsset* asset = assetOf(library(), originalPath)) {
      record.captureDate = asset->captureDate;
      if (!asset->originalFileName.empty()) stem = stemOf(asset->originalFileName);
    }
  } else {
    record.renderOf = std::string(kMedia) + file.renderOf;
  }
  const std::string_view ext = pathExtension(file.devicePath);
  record.fileNodeName = stem + " (edited)" + (ext.empty() ? "" : "." + std::string(ext));
}

void reportUnstoredMedia(const MzTreeDirNode& node, const StoredFileStatus& status,
                         ScanProblems* problems) {
  const std::string name = node.fileDomain + "-" + node.filePath;
  if (!status.exists) {
    applog::line("media file " + name + " is not stored in the backup");
  } else if (problems != nullptr) {
    problems->report(name, "skipped: not a regular file inside the backup");
  } else {
    applog::line(name + ": skipped: not a regular file inside the backup");
  }
}

void CurrentCameraRoll::keepStoredFiles(ScanProblems* problems) {
  inHalves(kept_.size(), [this](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) storedFileStatus(*kept_[i].node);
  });
  std::size_t out = 0;
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    const StoredFileStatus& status = *kept_[i].node->storedStatus;
    if (!status.isRegular) {
      reportUnstoredMedia(*kept_[i].node, status, problems);
      continue;
    }
    kept_[i].size = status.size;
    if (out != i) kept_[out] = std::move(kept_[i]);
    ++out;
  }
  kept_.resize(out);
}

void CurrentCameraRoll::post(NotificationCenter& nc, ScanProblems* problems) {
  keepStoredFiles(problems);
  // The stills and movies of DCIM by folder and stem ("DCIM/100APPLE/IMG_0001" in upper
  // case), for pairing and for finding the original of a render.
  std::map<std::string, std::size_t> stills;
  std::map<std::string, std::size_t> movies;
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    const std::string_view path = underMedia(kept_[i].devicePath);
    if (kept_[i].renderOf.empty() && isDcim(path)) {
      (kept_[i].movie ? movies : stills).emplace(upper(stemOf(path)), i);
    }
  }
  auto originalOf = [&](const Kept& render) -> const Kept* {
    const auto& originals = render.movie ? movies : stills;
    auto it = originals.find(upper(render.renderOf));
    return it == originals.end() ? nullptr : &kept_[it->second];
  };
  library();  // read before the records are made on two threads
  std::vector<std::size_t> partner(kept_.size(), kept_.size());
  std::vector<bool> joined(kept_.size(), false);
  for (std::size_t i = 0; i < kept_.size(); ++i) {
    const std::string_view path = underMedia(kept_[i].devicePath);
    if (kept_[i].movie || !kept_[i].renderOf.empty() || !isDcim(path)) continue;
    auto movie = movies.find(upper(stemOf(path)));
    if (movie == movies.end() || joined[movie->second]) continue;
    const PhotoAsset* still = assetOf(library(), path);
    const PhotoAsset* own = assetOf(library(), underMedia(kept_[movie->second].devicePath));
    // The library's word decides; without a row for the still, a movie that is an asset of
    // its own is a video of its own.
    const bool live = still != nullptr ? still->livePhoto : own == nullptr;
    if (!live) continue;
    partner[i] = movie->second;
    joined[movie->second] = true;
  }
  // The records are made two halves at once (reading the library and the maps only), then
  // posted in the walk's order.
  std::vector<std::shared_ptr<MzPhotoAndVideoNode>> records(kept_.size());
  inHalves(kept_.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      if (joined[i]) continue;
      records[i] = recordOf(kept_[i], kept_[i].renderOf.empty() ? nullptr : originalOf(kept_[i]));
      if (partner[i] < kept_.size()) {
        const Kept& movie = kept_[partner[i]];
        records[i]->bLivePhoto = true;
        records[i]->livePhotoMoviePath = movie.storedFile;
        records[i]->livePhotoMovieName = std::string(lastPathComponent(movie.devicePath));
        records[i]->livePhotoMovieSize = movie.size;
      }
    }
  });
  for (auto& record : records) {
    if (record) nc.post("ScanPhotoAndVideo", std::move(record));
  }
  kept_.clear();
}

std::optional<CurrentCameraRoll> currentCameraRollOf(const std::string& backupFolder,
                                                     DatabasePreparer& databases) {
  const devicedb::DeviceFile& file = devicedb::kPhotoLibrary;
  const std::optional<DatabaseLocation> location = locateDatabase(
      backupFolder, {{devicedb::kPhotoLibraryKey, file.domain, file.path}}, FileIndex{});
  if (!location) return std::nullopt;
  const std::optional<std::string> copy = databases.readOnlyCopy(
      location->storedFile, devicedb::walKeyFor(file), devicedb::deviceFileName(file));
  SqliteDatabase db = copy ? SqliteDatabase::openReadOnly(*copy) : SqliteDatabase();
  // A library that cannot be read at all tells nothing; a backup with Manifest.db (iOS 10
  // and later) is still a current one, whose files are listed without what the library
  // would add. Older backups keep their reading.
  bool readable = false;
  {
    SqliteStatement probe = db.prepare("SELECT count(*) FROM sqlite_master");
    readable = probe.valid() && probe.step() && !probe.failed();
  }
  if (!readable) {
    std::error_code ec;
    if (!std::filesystem::exists(backupFolder + "/Manifest.db", ec)) return std::nullopt;
    return CurrentCameraRoll();
  }
  if (!PhotoLibrary::isCurrentLibrary(db)) return std::nullopt;
  // The library's rows are needed only when the walk is over; reading them meanwhile on a
  // thread of its own takes that reading off the walk. The connection goes with the thread,
  // and the private copy stays until the manifest step, which posts the roll, is over.
  return CurrentCameraRoll(
      std::async(std::launch::async, [db = std::move(db)] { return PhotoLibrary::read(db); }));
}
