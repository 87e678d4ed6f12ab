// Media records from a backup's file index and from a downloaded cloud folder.
//
// GetMediaFileByNode classifies one file-index record by the extension of its device path
// (image list first, then audio, then video; see media_types.h) and posts one
// MzPhotoAndVideoNode for a media file: "ScanPhotoAndVideo" when its domain is exactly
// "CameraRollDomain", "MediaDomain" or "HomeDomain", "ScanAppPhotoAndVideo" for every other
// domain. Independently, every file of "AppDomain-com.facebook.Facebook",
// "AppDomain-com.atebits.Tweetie2" or "AppDomain-com.facebook.Messenger" is posted as an
// MzFaceTwitterNode ("scanFaceTwitterInfo"), so a social app's photo gives both records.
// Only files are classified: records of folders and symbolic links are passed over (the
// device keeps thumbnail folders named like photos, "IMG_0001.JPG/"), and so is a record
// whose stored file is not in the backup folder, which would give a record with nothing
// to show or recover (one log line names it). Records are posted as std::shared_ptr<T>.
//
// scanPhotoAndVideoThread lists one folder (no recursion, names in byte order), posts
// "ScanProgressInfo" with a step count (std::int32_t, 1 to 29 for 30 files or more, one
// per file for fewer) and posts "ScanPhotoAndVideoInfo" with the path "<folder>/<name>"
// (std::string) of every regular file of at least kCloudMediaMinimumBytes bytes; the
// receiver decides by the file's content whether it is a photo or a movie.
//
// Both run on the caller's thread and touch nothing but the notification centre; the stored
// files are only looked at (status and size), never opened.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/notification_center.h"
#include "catalogue/tree_dir_node.h"
#include "extract/camera_roll.h"
#include "extract/scan_problems.h"

// Files of the cloud folder smaller than this are not reported.
inline constexpr std::uint64_t kCloudMediaMinimumBytes = 20000;

// With `currentRoll`, the media files it takes over (camera_roll.h) go to it instead of
// being posted.
// A stored file that is a symbolic link or anything but a regular file is never a media
// record: device backups hold no links, and one planted there could point anywhere on this
// computer. It is reported to `problems` (when given) as skipped.
void GetMediaFileByNode(const std::shared_ptr<MzTreeDirNode>& node, NotificationCenter& nc,
                        ScanProblems* problems = nullptr, CurrentCameraRoll* currentRoll = nullptr);

void scanPhotoAndVideoThread(const std::string& folder, NotificationCenter& nc);
