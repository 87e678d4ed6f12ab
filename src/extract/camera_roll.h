// The camera roll of a current backup: the photos and videos of Media/DCIM, their edited
// renders and the iCloud library's originals, with what the photo library says of each.
//
// A backup's camera roll is read this way when CameraRollDomain holds the photo library
// database Media/PhotoData/Photos.sqlite with the asset table of iOS 8 and later (or a
// database there that cannot be read at all); other backups keep the classification of
// media_scanner.h file by file. The choice is made from what the backup holds, before the
// manifest walk, so the walk of an older backup posts exactly what it always did.
//
// During the walk, media_scanner.h hands every media file of CameraRollDomain under
// Media/DCIM/ and Media/PhotoData/ to add() instead of posting it. add() keeps:
//   - Media/DCIM/<folder>/<name>: the photos and videos as taken;
//   - Media/PhotoData/Mutations/DCIM/<folder>/<stem>/Adjustments/FullSizeRender.<ext>: the
//     edited render of DCIM/<folder>/<stem>, named "<stem> (edited).<ext>" after the stem of
//     the original's original name when the library gives one;
//   - Media/PhotoData/CPLAssets/... and Media/PhotoData/Sync/...: originals downloaded from
//     the iCloud library and photos synced from a computer;
// and passes over the rest of PhotoData (thumbnails, previews, caches, metadata), which
// would otherwise list every photo several times over.
//
// add() asks nothing of the file system: post(), right after the walk, reads the status of
// the kept files on two threads (one lstat each, the most costly part of a roll of tens of
// thousands of photos), drops and reports those that are not regular files inside the backup
// as the file-by-file classification does, and posts the rest as "ScanPhotoAndVideo" records
// in the order the walk met them. A still and a movie of the same folder and stem (IMG_0007.HEIC
// and IMG_0007.MOV) become one Live Photo record at the still's place, unless the library
// has a row for the still that is not a Live Photo. Each record carries its device path,
// and the capture date and original name the library gives it.
#pragma once

#include <cstdint>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/notification_center.h"
#include "catalogue/tree_dir_node.h"
#include "extract/database_preparation.h"
#include "extract/photo_library.h"
#include "extract/scan_problems.h"

struct MzPhotoAndVideoNode;

class CurrentCameraRoll {
 public:
  explicit CurrentCameraRoll(PhotoLibrary library = {});
  // A roll whose library is still being read by `reading` (on a thread of its own, while the
  // manifest is walked): add() does not need it, post() and library() wait for it.
  explicit CurrentCameraRoll(std::future<PhotoLibrary> reading);

  // Whether the media file `node` belongs to this reading (and so goes to add()).
  static bool takesOver(const MzTreeDirNode& node);
  // Keeps the file when it is a photo, movie, render or library original; `movie` when its
  // extension is a video or audio one. The record's stored-file status is read by post(), so
  // no other thread may ask for it until post() has returned.
  void add(const std::shared_ptr<MzTreeDirNode>& node, bool movie);
  // Posts the records and forgets the files; a kept file that is missing or not a regular
  // file is reported to `problems` (or the log) instead.
  void post(NotificationCenter& nc, ScanProblems* problems = nullptr);

  const PhotoLibrary& library() const;

 private:
  struct Kept {
    std::shared_ptr<MzTreeDirNode> node;
    std::string devicePath;  // "Media/DCIM/100APPLE/IMG_0001.HEIC"
    std::string storedFile;
    std::uint64_t size = 0;  // set by post() from the node's status
    bool movie = false;
    std::string renderOf;  // "DCIM/100APPLE/IMG_0001" for a render, else ""
  };
  // The record of `file`; `original` is the DCIM file a render was made from, if kept.
  std::shared_ptr<MzPhotoAndVideoNode> recordOf(const Kept& file, const Kept* original) const;
  void describeRender(const Kept& file, const Kept* original, MzPhotoAndVideoNode& record) const;
  // Reads every kept file's status, then keeps only the regular files, with their sizes.
  void keepStoredFiles(ScanProblems* problems);

  // The library once read; until then `reading_` is valid and library() takes it from there.
  mutable PhotoLibrary library_;
  mutable std::future<PhotoLibrary> reading_;
  std::vector<Kept> kept_;
};

// Says why the media file of `node`, whose stored file is not a regular file (`status`), gives
// no record: to `problems` (or the log) when something else stands there, to the log alone
// when nothing does.
void reportUnstoredMedia(const MzTreeDirNode& node, const StoredFileStatus& status,
                         ScanProblems* problems);

// The current reading of the backup in `backupFolder`, with its library read from a private
// copy made by `databases` on a thread of its own while the caller goes on; none when the backup's
// camera roll is read file by file (no photo library database, or one of iOS 7 and earlier).
std::optional<CurrentCameraRoll> currentCameraRollOf(const std::string& backupFolder,
                                                     DatabasePreparer& databases);
