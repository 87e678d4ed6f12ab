// The download progress function: a file counts once, when reported finished with a total
// other than the previous report's; every answer is the stop flag.
#include "cloud/download_progress.h"

#include <gtest/gtest.h>

#include <any>
#include <vector>

#include "base/notification_center.h"

namespace {

class DownloadProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cloud::resetDownloadProgress();
    cloud::setDownloadProgressCenter(&center_);
    center_.addObserver(cloud::kDownloadProgressNotification, [this](const std::any& object) {
      posted_.push_back(std::any_cast<std::int64_t>(object));
    });
  }
  void TearDown() override {
    cloud::setDownloadProgressCenter(nullptr);
    cloud::resetDownloadProgress();
  }

  NotificationCenter center_;
  std::vector<std::int64_t> posted_;
};

TEST_F(DownloadProgressTest, EachFinishedFileCountsOnceButAnEqualSizeRightAfterDoesNot) {
  EXPECT_EQ(cloud::icloudDownloadProgress("a", 100, 100), 0);
  EXPECT_EQ(cloud::icloudDownloadProgress("a", 100, 100), 0);  // reported again
  EXPECT_EQ(cloud::icloudDownloadProgress("b", 100, 100), 0);  // same size, next file
  EXPECT_EQ(cloud::icloudDownloadProgress("c", 250, 250), 0);
  EXPECT_EQ(cloud::icloudDownloadProgress("d", 100, 100), 0);
  EXPECT_EQ(posted_, (std::vector<std::int64_t>{100, 350, 450}));
  EXPECT_EQ(cloud::downloadedBytes(), 450);
}

TEST_F(DownloadProgressTest, UnfinishedReportsAddNothingAndAnswerTheStopFlag) {
  EXPECT_EQ(cloud::icloudDownloadProgress("a", 10, 4000), 0);
  EXPECT_EQ(cloud::icloudDownloadProgress("b", 0, 8000), 0);
  EXPECT_TRUE(posted_.empty());
  EXPECT_EQ(cloud::downloadedBytes(), 0);

  cloud::requestDownloadStop();
  EXPECT_TRUE(cloud::downloadStopRequested());
  EXPECT_EQ(cloud::icloudDownloadProgress("c", 10, 9000), 1);
  EXPECT_EQ(cloud::icloudDownloadProgress("c", 9000, 9000), 1);  // same total: not counted
  EXPECT_EQ(cloud::icloudDownloadProgress("d", 500, 500), 1);    // counted, and still a stop
  EXPECT_EQ(posted_, (std::vector<std::int64_t>{500}));

  cloud::resetDownloadProgress();
  EXPECT_FALSE(cloud::downloadStopRequested());
  EXPECT_EQ(cloud::downloadedBytes(), 0);
  EXPECT_EQ(cloud::icloudDownloadProgress("e", 500, 500), 0);  // the last total was reset too
  EXPECT_EQ(cloud::downloadedBytes(), 500);
}

}  // namespace
