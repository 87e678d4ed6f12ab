// The advanced photo scan of a connected device: reads the camera-roll, photo-sync and
// photo-stream folders through the device's media file service, without a backup, copies
// their files into a local folder and posts a media record for every copied photo, video or
// audio file.
//
// The scan opens amd::AfcService on the device at `position` of `manager` and walks four
// stages, each worth a quarter of the progress:
//   base  0: /DCIM/<folder>                        folders whose name contains "APPLE"
//   base 25: /PhotoData/Sync/<folder>              folders whose name contains "SYNCD"
//   base 50: /Photos/Sync/<folder>                 folders whose name contains "SYNCD"
//   base 75: /PhotoStreamsData/<any>/<folder>      folders whose name contains "APPLE"
// (fragments matched ignoring ASCII case). Every file of such a folder is copied to
// localFolder + the device path ("/DCIM/100APPLE/IMG_0001.JPG" goes to
// localFolder/DCIM/100APPLE/IMG_0001.JPG), so files of equal name in different folders keep
// their own copies. A copy whose name is an image extension is posted as
// "ScanPhotoAndVideo" with an MzPhotoAndVideoNode (fileNodeName the device name, filePath the
// copy, devicePath the device path); a video or audio extension sets bmov. Other files stay
// copied without a record.
//
// Notifications, all posted on the caller's thread through `nc`:
//   "ScanAdancedprogress"  first an empty object once the scan is under way, then a
//                          std::int32_t: after the k-th (0-based) of c names of a folder
//                          listing, base + floor(25 * (k + 1) / c); after each stage its
//                          closing value 25, 50, 75, 100
//   "ScanPhotoAndVideo"    std::shared_ptr<MzPhotoAndVideoNode>
//   "ScanAdancedFinished"  empty; always the last post, also when the device did not connect
//                          (then the only one), the local folder was refused, or the scan was
//                          stopped
//
// What is never done:
//   - a device name that is empty, ".", "..", holds "/" or NUL, or is longer than 255 bytes
//     is never joined to a local path (nor to a device path): it is refused, counted and
//     logged;
//   - nothing is written outside localFolder, which must be a private folder of this user
//     (paths::makePrivateFolder: a symbolic link, a file or another user's folder is
//     refused, and then nothing is copied); its sub-folders are made the same way;
//   - a file whose copy failed, or that held no byte, gets no record (it is counted and
//     logged), so every record points at a complete copy.
// The copies are left in localFolder; nothing here removes them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "base/notification_center.h"
#include "device/device_manager.h"

// The local folder of the copies unless the caller names another.
inline constexpr const char* kAdvancedScanFolder = "/tmp/Photos";

// What one scan did.
struct AdvancedPhotoScanSummary {
  bool connected = false;         // the media file service opened on the device
  int connectCode = 0;            // the code of the failed open (0 when it opened)
  std::string localFolder;        // where the copies are
  std::string folderProblem;      // why localFolder was refused ("" when it was used)
  std::size_t filesCopied = 0;    // device files copied whole
  std::size_t recordsPosted = 0;  // "ScanPhotoAndVideo" posts
  std::size_t copiesFailed = 0;   // files not copied (or empty): no record, no copy
  std::size_t namesRefused = 0;   // unsafe device names passed over
  bool stopped = false;           // shouldStop() ended the scan early
};

// Runs the scan to its end on the calling thread. `shouldStop`, when given, is asked before
// each file and each folder; once it says yes the scan posts "ScanAdancedFinished" and
// returns.
AdvancedPhotoScanSummary scanDiskAidMediaThread(
    NotificationCenter& nc, DeviceManager& manager, int position,
    const std::string& localFolder = kAdvancedScanFolder, std::function<bool()> shouldStop = {});

// Whether a name listed by the device may be used as one path component: not empty, not "."
// or "..", no "/" and no NUL, at most 255 bytes.
bool isSafeDeviceName(std::string_view name);
