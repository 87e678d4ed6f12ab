#include "cloud/download_progress.h"

#include <any>
#include <atomic>

#include "base/notification_center.h"

namespace cloud {
namespace {

// Written by the main thread (reset, stop) and read by the download thread inside the module's
// call, hence atomics.
std::atomic<std::int64_t> lastReportedTotal{0};
std::atomic<std::int64_t> downloaded{0};
std::atomic<bool> stopRequested{false};
std::atomic<NotificationCenter*> progressCenter{nullptr};

std::int32_t stopFlag() { return stopRequested.load() ? 1 : 0; }

}  // namespace

void resetDownloadProgress() {
  lastReportedTotal = 0;
  downloaded = 0;
  stopRequested = false;
}

void requestDownloadStop() { stopRequested = true; }
bool downloadStopRequested() { return stopRequested.load(); }
std::int64_t downloadedBytes() { return downloaded.load(); }

void setDownloadProgressCenter(NotificationCenter* center) { progressCenter = center; }

std::int32_t icloudDownloadProgress(const char* /*fileName*/, std::int64_t done,
                                    std::int64_t total) {
  // A report with the total of the previous one is the same file again (or a file of the same
  // size right after it, which is not counted either).
  if (total == lastReportedTotal.load()) return stopFlag();
  lastReportedTotal = total;
  if (done != total) return stopFlag();
  const std::int64_t bytes = downloaded += total;
  NotificationCenter* center = progressCenter.load();
  (center ? *center : NotificationCenter::defaultCenter())
      .post(kDownloadProgressNotification, std::any(bytes));
  return stopFlag();
}

}  // namespace cloud
