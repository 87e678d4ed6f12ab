// The progress function a cloud download reports through, and the process-wide state it keeps:
// the last reported total, the bytes of the files finished so far and the user's stop.
//
// A file counts once, when the module reports it with done equal to total and with a total
// different from the previous report's; its size is then added to the downloaded bytes and
// "DownloadiCloudProgressInfo" is posted with them (std::int64_t). Every call answers the stop
// flag: 1 once a stop was requested, else 0.
#pragma once

#include <cstdint>

class NotificationCenter;

namespace cloud {

// The name posted with the downloaded bytes.
inline constexpr char kDownloadProgressNotification[] = "DownloadiCloudProgressInfo";

// Sets the last reported total, the downloaded bytes and the stop flag to 0 (a download's
// start).
void resetDownloadProgress();
// Sets the stop flag; the module sees 1 from its next progress call.
void requestDownloadStop();
bool downloadStopRequested();
std::int64_t downloadedBytes();

// The centre the progress is posted on; null restores NotificationCenter::defaultCenter().
void setDownloadProgressCenter(NotificationCenter* center);

// The progress function handed to CloudScriptBridge::download.
std::int32_t icloudDownloadProgress(const char* fileName, std::int64_t done, std::int64_t total);

}  // namespace cloud
