#include "results/result_view_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

#include "base/main_thread.h"
#include "fake_result_view.h"
#include "support/temp_dir.h"

namespace {

class ResultFiling : public ::testing::Test {
 protected:
  NotificationCenter nc;
  FakeResultView view;
  MzResultViewController results{nc, &view};
};

TEST_F(ResultFiling, LiveRecordsAreFiledAndCounted) {
  nc.post("ScanContactInfo", contact("Ann", " 5550100"));
  nc.post("ScanCallHistoryInfo", call("Ann", "5550100", "01-01-2014 10:00"));
  nc.post("ScanNoteInfo", std::make_shared<MzNoteNode>());
  nc.post("scanBookMarkInfo", std::make_shared<MzBookMarkNode>());
  nc.post("scanCalenderInfo", std::make_shared<MzCalenderNode>());
  nc.post("scanFaceTwitterInfo", std::make_shared<MzFaceTwitterNode>());
  nc.post("ScanPhotoAndVideo", media("1.jpg"));
  nc.post("ScanAppPhotoAndVideo", media("2.jpg"));
  nc.post("ScanMessageInfo", message("5550100", "hi"));

  EXPECT_EQ(results.contactArray.size(), 1u);
  EXPECT_EQ(results.callHistoryArray.size(), 1u);
  EXPECT_EQ(results.noteArray.size(), 1u);
  EXPECT_EQ(results.bookMarkArray.size(), 1u);
  EXPECT_EQ(results.calenderArray.size(), 1u);
  EXPECT_EQ(results.faceTwitterArray.size(), 1u);
  EXPECT_EQ(results.photoAndVideoArray.size(), 1u);
  EXPECT_EQ(results.appPhotoAndVideoArray.size(), 1u);
  EXPECT_EQ(results.messageArray.size(), 1u);
  EXPECT_EQ(results.messageTreeArray.size(), 1u);
  EXPECT_EQ(results.photovideoNum, 2);  // camera roll and app media share one counter
  EXPECT_EQ(results.contactNum, 1);
  EXPECT_EQ(results.messageNum, 1);
  EXPECT_EQ(results.BackUpFilesNum, 9);
  EXPECT_EQ(results.deleteeFilesNum, 0);
}

TEST_F(ResultFiling, PayloadsOfTheWrongTypeAreIgnored) {
  nc.post("ScanContactInfo", std::string("not a contact"));
  nc.post("ScanContactInfo", std::make_shared<MzNoteNode>());
  nc.post("ScanContactInfo", std::shared_ptr<MzContactNode>());
  nc.post("ScanContactInfo");
  nc.post("ScanDelMessageInfo", 42);
  nc.post("ScanMessageInfo", MzMessageNode{});  // a record by value is not a posted record
  nc.post("ScanProgressInfo", 50.0);
  nc.post("ScanPhotoAndVideoInfo", 7);
  nc.post("FindBackUpDirFileInfo", std::string("x"));
  nc.post("ScanIOSDeviceInfo", MzIOSDeviceNode{});
  nc.post("RefreshNodeSelctedStatu", std::string("thumb"));
  EXPECT_TRUE(results.contactArray.empty());
  EXPECT_TRUE(results.messageArray.empty());
  EXPECT_EQ(results.BackUpFilesNum, 0);
  EXPECT_EQ(results.deleteeFilesNum, 0);
  EXPECT_EQ(view.progressFraction, -1);  // never told
  EXPECT_EQ(results.currentBackup(), nullptr);
}

TEST(ResultObservers, RegisteredForTheWholeTableAndRemovedOnDestruction) {
  NotificationCenter nc;
  const char* names[] = {"ScanPhotoAndVideo",
                         "ScanAppPhotoAndVideo",
                         "ScanPhotoAndVideoInfo",
                         "ScanContactInfo",
                         "ScanMessageInfo",
                         "ScanCallHistoryInfo",
                         "ScanNoteInfo",
                         "scanBookMarkInfo",
                         "scanCalenderInfo",
                         "scanFaceTwitterInfo",
                         "ScanDelContactInfo",
                         "ScanDelMessageInfo",
                         "ScanDelNoteInfo",
                         "ScanDelCallHistoryInfo",
                         "scanDelBookMarkInfo",
                         "scanDelCalenderInfo",
                         "ScanProgressInfo",
                         "FindBackUpDirFileInfo",
                         "RefreshNodeSelctedStatu",
                         "ScanIOSDeviceInfo",
                         "ScanAdancedprogress",
                         "ScanAdancedFinished"};
  {
    MzResultViewController results(nc);
    for (const char* n : names) EXPECT_EQ(nc.observerCount(n), 1u) << n;
  }
  for (const char* n : names) EXPECT_EQ(nc.observerCount(n), 0u) << n;
  nc.post("ScanContactInfo", contact("Ann", "1"));  // nobody listens; no crash
}

TEST_F(ResultFiling, ConversationsGroupLiveMessagesByAddress) {
  nc.post("ScanMessageInfo", message("555 0100", "a", "01-01-2014 10:00", "Bob"));
  nc.post("ScanMessageInfo", message("+1 555 0100", "b"));  // contains the shorter address
  nc.post("ScanMessageInfo", message("555-0100", "c"));     // neither contains the other
  nc.post("ScanMessageInfo", message("", "d"));
  nc.post("ScanMessageInfo", message("", "e"));  // two empty addresses meet by equality
  ASSERT_EQ(results.messageTreeArray.size(), 3u);
  EXPECT_EQ(results.messageTreeArray[0]->messageTreeNodeName, "Bob");
  EXPECT_EQ(results.messageTreeArray[0]->MessageNodeArray->size(), 2u);
  EXPECT_EQ(results.messageTreeArray[1]->messageTreeNodeAdress, "555-0100");
  EXPECT_EQ(results.messageTreeArray[2]->MessageNodeArray->size(), 2u);
  EXPECT_FALSE(results.messageTreeArray[2]->bdeleted);
  EXPECT_EQ(results.messageArray.size(), 5u);
}

TEST_F(ResultFiling, DeletedMessagesCleanGroupAndDeduplicate) {
  nc.post("ScanMessageInfo", message("5550100", "hello", "01-01-2014 10:00"));
  // Equal to the live message in address, text and date: dropped.
  nc.post("ScanDelMessageInfo", message("5550100", "hello", "01-01-2014 10:00"));
  EXPECT_EQ(results.deleteeFilesNum, 0);
  // Same text, another date: filed, and never inside the live conversation.
  nc.post("ScanDelMessageInfo", message("5550100", "hello", "01-02-2014 10:00"));
  ASSERT_EQ(results.messageTreeArray.size(), 2u);
  EXPECT_EQ(results.messageTreeArray[0]->MessageNodeArray->size(), 1u);
  EXPECT_TRUE(results.messageTreeArray[1]->bdeleted);
  EXPECT_TRUE(results.messageArray.back()->bDeleted);
  // A second deleted message joins the deleted conversation and is counted too.
  nc.post("ScanDelMessageInfo", message("5550100", "again", "01-03-2014 10:00"));
  EXPECT_EQ(results.messageTreeArray[1]->MessageNodeArray->size(), 2u);
  // A blank, the digit 1 and a blank: filed under "Unknown", named by the message's name.
  nc.post("ScanDelMessageInfo", message(" 1 ", "who", "01-04-2014 10:00", "Carl"));
  ASSERT_EQ(results.messageTreeArray.size(), 3u);
  EXPECT_EQ(results.messageTreeArray[2]->messageTreeNodeAdress, "Unknown");
  EXPECT_EQ(results.messageTreeArray[2]->messageTreeNodeName, "Carl");
  // Neither address nor text: rejected.
  nc.post("ScanDelMessageInfo", message("", "", "01-05-2014 10:00"));
  EXPECT_EQ(results.delMessageNum, 3);
  EXPECT_EQ(results.deleteeFilesNum, 3);
  EXPECT_EQ(results.messageArray.size(), 4u);
  EXPECT_EQ(results.countsFor(ResultCategory::Message).live, 1u);
  EXPECT_EQ(results.countsFor(ResultCategory::Message).deleted, 3u);
}

TEST_F(ResultFiling, DeletedRecordsOfEveryCategoryAreDeduplicated) {
  nc.post("ScanContactInfo", contact("Ann", " 111"));
  nc.post("ScanDelContactInfo", contact("Ann", " 111"));  // same name and phone
  nc.post("ScanDelContactInfo", contact("Ann", " 222"));
  nc.post("ScanDelContactInfo", contact("Ann", " 222"));  // same as a deleted one
  EXPECT_EQ(results.delContactNum, 1);
  ASSERT_EQ(results.contactArray.size(), 2u);
  EXPECT_FALSE(results.contactArray[0]->bDeleted);
  EXPECT_TRUE(results.contactArray[1]->bDeleted);

  auto note = [](const std::string& title, const std::string& content) {
    auto n = std::make_shared<MzNoteNode>();
    n->noteTitle = title;
    n->noteContent = content;
    return n;
  };
  nc.post("ScanNoteInfo", note("t", "body"));
  nc.post("ScanDelNoteInfo", note("other title", "body"));  // content decides
  nc.post("ScanDelNoteInfo", note("", ""));                 // empty
  nc.post("ScanDelNoteInfo", note("", "new body"));
  EXPECT_EQ(results.delNoteNum, 1);

  nc.post("ScanCallHistoryInfo", call("Ann", "111", "01-01-2014 10:00"));
  nc.post("ScanDelCallHistoryInfo", call("Bob", "111", "01-01-2014 10:00"));  // phone and date
  nc.post("ScanDelCallHistoryInfo", call("", "", "01-02-2014 10:00"));        // empty
  auto withheld = call("", "", "01-03-2014 10:00");
  withheld->callName.reset();  // no contact matched: a withheld number, kept
  nc.post("ScanDelCallHistoryInfo", withheld);
  nc.post("ScanDelCallHistoryInfo", call("", "111", "01-04-2014 10:00"));
  EXPECT_EQ(results.delCallNum, 2);

  auto bookmark = [](const std::string& title, const std::string& url) {
    auto b = std::make_shared<MzBookMarkNode>();
    b->bookMarkTitle = title;
    b->bookMarkURL = url;
    return b;
  };
  nc.post("scanBookMarkInfo", bookmark("A", "http://a"));
  nc.post("scanDelBookMarkInfo", bookmark("A", "http://a"));
  nc.post("scanDelBookMarkInfo", bookmark("", ""));
  nc.post("scanDelBookMarkInfo", bookmark("B", "http://a"));
  // Bytes of other columns, read where no record starts: no address, or control bytes.
  nc.post("scanDelBookMarkInfo", bookmark("C", "\x01\x02www.c.se"));
  nc.post("scanDelBookMarkInfo", bookmark("D", "www.d.se/a:b"));
  nc.post("scanDelBookMarkInfo", bookmark("E\x03\x10", "http://e"));
  nc.post("scanDelBookMarkInfo", bookmark("", "https://f.se/"));  // an address alone is kept
  EXPECT_EQ(results.delBookMarkNum, 2);

  auto event = [](const std::string& title, const std::string& note, const std::string& start) {
    auto e = std::make_shared<MzCalenderNode>();
    e->calTitle = title;
    e->calNote = note;
    e->startDate = start;
    return e;
  };
  nc.post("scanCalenderInfo", event("Meet", "n", "01-01-2014 10:00"));
  nc.post("scanDelCalenderInfo", event("Meet", "n", "01-01-2014 10:00"));
  nc.post("scanDelCalenderInfo", event("", "", ""));
  nc.post("scanDelCalenderInfo", event("", "", "01-01-2001 00:00"));  // dates alone: no event
  nc.post("scanDelCalenderInfo", event("", "call the garage", ""));   // a note alone is kept
  nc.post("scanDelCalenderInfo", event("Meet", "n", "01-02-2014 10:00"));
  nc.post("scanDelCalenderInfo", event("meet", "n", "01-01-2014 10:00"));  // case counts
  EXPECT_EQ(results.delCalenderNum, 3);

  EXPECT_EQ(results.deleteeFilesNum, 1 + 1 + 2 + 2 + 3);
  EXPECT_EQ(results.countsFor(ResultCategory::CallHistory).deleted, 2u);
}

TEST_F(ResultFiling, ProgressAndCountLabels) {
  nc.post("ScanPhotoAndVideo", media("1.jpg"));
  nc.post("ScanContactInfo", contact("Ann", " 1"));
  nc.post("ScanContactInfo", contact("Bob", " 2"));
  nc.post("ScanDelContactInfo", contact("Cid", " 3"));
  nc.post("ScanProgressInfo", std::int32_t{50});
  EXPECT_DOUBLE_EQ(view.progressFraction, 0.5);
  EXPECT_EQ(view.progressText, "50%");
  EXPECT_EQ(view.countLabels.live.photoVideo, "Photo&Video:  1");
  EXPECT_EQ(view.countLabels.live.contacts, "Contacts:  2");
  EXPECT_EQ(view.countLabels.live.messages, "Messages:  0");
  EXPECT_EQ(view.countLabels.live.notes, "Notes:  0");
  EXPECT_EQ(view.countLabels.live.callHistory, "Call History:  0");
  EXPECT_EQ(view.countLabels.deleted.photoVideo, "Photo&Video:  0");
  EXPECT_EQ(view.countLabels.deleted.contacts, "Contacts:  1");
  // The bar follows each value as it comes, also backwards (notes report before calls).
  nc.post("ScanProgressInfo", std::int32_t{70});
  nc.post("ScanProgressInfo", std::int32_t{60});
  EXPECT_EQ(results.progressText(), "60%");
}

TEST_F(ResultFiling, ScanFinishZeroesCategoryCountersAndOpensCameraRoll) {
  results.prepareForScan();
  EXPECT_TRUE(view.controls.progressViewShown);
  EXPECT_FALSE(view.controls.homeEnabled);
  EXPECT_FALSE(view.controls.categoriesEnabled);
  results.actContact();  // refused while the scan thread files records
  EXPECT_EQ(results.currentCategory(), ResultCategory::Photo);

  nc.post("ScanPhotoAndVideo", media("1.jpg"));
  nc.post("ScanContactInfo", contact("Ann", " 1"));
  nc.post("ScanDelContactInfo", contact("Bob", " 2"));
  nc.post("ScanProgressInfo", std::int32_t{100});
  results.ScanThreadFinish();

  EXPECT_TRUE(results.bScanFinished);
  EXPECT_EQ(view.progressText, "0%");
  EXPECT_EQ(view.progressFraction, 0);
  EXPECT_FALSE(view.controls.progressViewShown);
  EXPECT_TRUE(view.controls.homeEnabled);
  EXPECT_TRUE(view.controls.categoriesEnabled);
  EXPECT_TRUE(view.controls.browserEnabled);
  EXPECT_TRUE(view.controls.socialLinksEnabled);
  EXPECT_TRUE(view.controls.selectAllShown);
  EXPECT_FALSE(view.controls.deletedOnlyShown);  // hidden again for the camera roll
  EXPECT_FALSE(view.controls.recoverEnabled);
  EXPECT_EQ(view.shownCategory, ResultCategory::Photo);
  EXPECT_EQ(view.rows.size(), 1u);
  EXPECT_EQ(view.highlighted, std::vector<std::size_t>{0});
  EXPECT_EQ(results.photovideoNum, 0);
  EXPECT_EQ(results.contactNum, 0);
  EXPECT_EQ(results.delContactNum, 0);
  EXPECT_EQ(results.BackUpFilesNum, 2);
  EXPECT_EQ(results.deleteeFilesNum, 1);
  // The lists still tell the counts.
  EXPECT_EQ(results.countsFor(ResultCategory::Contact).live, 1u);
  EXPECT_EQ(results.countsFor(ResultCategory::Contact).deleted, 1u);
  EXPECT_EQ(results.countsFor(ResultCategory::Photo).live, 1u);
}

TEST_F(ResultFiling, CloudFolderMediaAreNamedByKind) {
  TempDir dir;
  std::string jpeg =
      dir.writeFile("a", std::string("\xFF\xD8\xFF\xE0", 4) + std::string(1496, 'x'));
  std::string mov = dir.writeFile("b", std::string("\0\0\0\x14"
                                                   "ftypqt  ",
                                                   12) +
                                           "rest");
  std::string text = dir.writeFile("c", "plain text, not media");
  nc.post("ScanPhotoAndVideoInfo", jpeg);
  nc.post("ScanPhotoAndVideoInfo", mov);
  nc.post("ScanPhotoAndVideoInfo", text);
  nc.post("ScanPhotoAndVideoInfo", dir.sub("missing"));
  ASSERT_EQ(results.photoAndVideoArray.size(), 2u);
  const auto& image = *results.photoAndVideoArray[0];
  EXPECT_EQ(image.fileNodeName, "00000001.jpg");
  EXPECT_EQ(image.fileNodeSize, "1.50K");
  EXPECT_EQ(image.fileSizeNumber, 1500u);
  EXPECT_EQ(image.filePath, jpeg);
  EXPECT_FALSE(image.bmov);
  EXPECT_EQ(results.photoAndVideoArray[1]->fileNodeName, "00000001.mov");
  EXPECT_TRUE(results.photoAndVideoArray[1]->bmov);
  EXPECT_EQ(results.photovideoNum, 2);
  EXPECT_EQ(results.BackUpFilesNum, 2);
  // The running numbers survive releasing the results.
  results.releaseUIMemory();
  nc.post("ScanPhotoAndVideoInfo", jpeg);
  EXPECT_EQ(results.photoAndVideoArray[0]->fileNodeName, "00000002.jpg");
}

TEST_F(ResultFiling, DeviceInformationAndBrowserRecords) {
  auto node = std::make_shared<MzIOSDeviceNode>();
  node->strDeviceName = "Ann's iPhone";
  node->strDeviceSerial = "SERIAL";
  node->strIOSVersion = "7.0";
  nc.post("ScanIOSDeviceInfo", node);
  EXPECT_EQ(results.currentBackup(), node);
  EXPECT_EQ(view.deviceInfo.deviceName, "Ann's iPhone");
  EXPECT_EQ(view.deviceInfo.iosVersion, "7.0");
  auto second = std::make_shared<MzIOSDeviceNode>();
  second->strDeviceType = "iPhone 5";
  nc.post("ScanIOSDeviceInfo", second);  // absent fields keep their labels
  EXPECT_EQ(view.deviceInfo.deviceName, "Ann's iPhone");
  EXPECT_EQ(view.deviceInfo.deviceType, "iPhone 5");

  auto record = std::make_shared<MzTreeDirNode>();
  record->fileDomain = "HomeDomain";
  record->filePath = "Library/a.db";
  nc.post("FindBackUpDirFileInfo", record);  // no tree yet: dropped quietly
  FakeBrowserTree tree;
  results.setBackupBrowserTree(&tree);
  nc.post("FindBackUpDirFileInfo", record);
  nc.post("FindBackUpDirFileInfo", std::make_shared<MzTreeDirNode>());  // no device path
  ASSERT_EQ(tree.added.size(), 1u);
  EXPECT_EQ(tree.added[0], record);
  results.setBackupBrowserTree(nullptr);
}

TEST_F(ResultFiling, GoingHomeAsksAndReleasesOnBack) {
  FakeBrowserTree tree;
  results.setBackupBrowserTree(&tree);
  int entryShown = 0;
  results.showEntryView = [&] { ++entryShown; };
  nc.post("ScanContactInfo", contact("Ann", " 1"));
  results.ScanThreadFinish();
  results.selectedFilesNum = 1;
  results.recovredFilesNum = 1;

  view.answer = 1;  // "Cancel"
  results.actHome();
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_EQ(view.questions[0],
            "Are you sure you want to go back to Home? If Back, the scanning results will not "
            "be saved.");
  EXPECT_EQ(view.questionButtons, (std::vector<std::string>{" Back ", "Cancel"}));
  EXPECT_EQ(results.contactArray.size(), 1u);
  EXPECT_EQ(entryShown, 0);

  view.answer = 0;  // " Back "
  results.actHome();
  EXPECT_TRUE(results.contactArray.empty());
  EXPECT_EQ(results.selectedFilesNum, 0);
  EXPECT_EQ(results.recovredFilesNum, 0);
  EXPECT_EQ(results.BackUpFilesNum, 0);
  EXPECT_EQ(results.deleteeFilesNum, 0);
  EXPECT_TRUE(view.controls.selectionLabelHidden);
  EXPECT_EQ(tree.releases, 1);
  EXPECT_EQ(entryShown, 1);

  results.prepareForScan();  // the home button is disabled while scanning
  results.actHome();
  EXPECT_EQ(view.questions.size(), 2u);
  results.setBackupBrowserTree(nullptr);
}

TEST_F(ResultFiling, SwitchingBackupsRescansOnlyAnotherBackup) {
  std::vector<std::shared_ptr<MzIOSDeviceNode>> started;
  results.startScan = [&](std::shared_ptr<MzIOSDeviceNode> n) { started.push_back(n); };
  auto first = std::make_shared<MzIOSDeviceNode>();
  first->backUpFilePath = "/backups/one";
  auto copyOfFirst = std::make_shared<MzIOSDeviceNode>(*first);
  auto second = std::make_shared<MzIOSDeviceNode>();
  second->backUpFilePath = "/backups/two";
  second->strDeviceName = "Two";
  results.setCurrentBackup(first);
  nc.post("ScanContactInfo", contact("Ann", " 1"));

  results.actSelectBackUpBtn(first);
  results.actSelectBackUpBtn(copyOfFirst);  // the same entry again
  EXPECT_TRUE(started.empty());
  EXPECT_EQ(results.contactArray.size(), 1u);

  results.selectedFilesNum = 3;
  results.actSelectBackUpBtn(second);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0], second);
  EXPECT_EQ(results.currentBackup(), second);
  EXPECT_EQ(view.deviceInfo.deviceName, "Two");
  EXPECT_TRUE(results.contactArray.empty());
  EXPECT_EQ(results.selectedFilesNum, 0);
  EXPECT_EQ(results.BackUpFilesNum, 0);
  EXPECT_TRUE(view.controls.progressViewShown);
  EXPECT_FALSE(results.bScanFinished);
  // While that scan runs, the pop-up does nothing.
  results.actSelectBackUpBtn(first);
  EXPECT_EQ(started.size(), 1u);
}

TEST_F(ResultFiling, ReleaseEmptiesEveryList) {
  nc.post("ScanPhotoAndVideo", media("1.jpg"));
  nc.post("ScanAppPhotoAndVideo", media("2.jpg"));
  nc.post("ScanContactInfo", contact("Ann", " 1"));
  nc.post("ScanMessageInfo", message("1", "x"));
  nc.post("ScanCallHistoryInfo", call("A", "1", "01-01-2014 10:00"));
  nc.post("ScanNoteInfo", std::make_shared<MzNoteNode>());
  nc.post("scanBookMarkInfo", std::make_shared<MzBookMarkNode>());
  nc.post("scanCalenderInfo", std::make_shared<MzCalenderNode>());
  nc.post("scanFaceTwitterInfo", std::make_shared<MzFaceTwitterNode>());
  results.searchArray.push_back(results.contactArray[0]);
  results.ScanThreadFinish();
  ASSERT_FALSE(view.rows.empty());

  results.releaseUIMemory();
  EXPECT_TRUE(results.photoAndVideoArray.empty());
  EXPECT_TRUE(results.appPhotoAndVideoArray.empty());
  EXPECT_TRUE(results.contactArray.empty());
  EXPECT_TRUE(results.messageArray.empty());
  EXPECT_TRUE(results.messageTreeArray.empty());
  EXPECT_TRUE(results.callHistoryArray.empty());
  EXPECT_TRUE(results.noteArray.empty());
  EXPECT_TRUE(results.bookMarkArray.empty());
  EXPECT_TRUE(results.calenderArray.empty());
  EXPECT_TRUE(results.faceTwitterArray.empty());
  EXPECT_TRUE(results.searchArray.empty());
  EXPECT_TRUE(results.shownRows().empty());
  EXPECT_TRUE(view.rows.empty());
  EXPECT_TRUE(view.highlighted.empty());
}

// A main thread for the scan thread to hand work to: runs queued work on the test's thread
// while the poster waits, as the GUI's executor does.
class TestMainLoop {
 public:
  TestMainLoop() : mainId_(std::this_thread::get_id()) {
    setMainThreadExecutor([this](const std::function<void()>& fn) { run(fn); });
  }
  ~TestMainLoop() { setMainThreadExecutor({}); }

  // Runs queued work until `done` is set by the worker.
  void runUntil(const std::atomic<bool>& done) {
    std::unique_lock lock(mutex_);
    while (!done || !queue_.empty()) {
      cv_.wait_for(lock, std::chrono::milliseconds(5), [&] { return !queue_.empty(); });
      while (!queue_.empty()) {
        auto item = queue_.front();
        queue_.pop_front();
        lock.unlock();
        (*item->fn)();
        {
          std::lock_guard g(item->m);
          item->finished = true;
        }
        item->cv.notify_one();
        lock.lock();
      }
    }
  }

  bool onMainThread() const { return std::this_thread::get_id() == mainId_; }

 private:
  struct Item {
    const std::function<void()>* fn;
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;
  };
  void run(const std::function<void()>& fn) {
    if (onMainThread()) return fn();
    auto item = std::make_shared<Item>();
    item->fn = &fn;
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(item);
    }
    cv_.notify_one();
    std::unique_lock lock(item->m);
    item->cv.wait(lock, [&] { return item->finished; });
  }

  std::thread::id mainId_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Item>> queue_;
};

class ThreadRecordingView : public FakeResultView {
 public:
  explicit ThreadRecordingView(const TestMainLoop& loop) : loop_(loop) {}
  void setProgress(double fraction, const std::string& text) override {
    if (!loop_.onMainThread()) offMainThreadCalls++;
    FakeResultView::setProgress(fraction, text);
  }
  void showCategory(ResultCategory c) override {
    if (!loop_.onMainThread()) offMainThreadCalls++;
    FakeResultView::showCategory(c);
  }
  int offMainThreadCalls = 0;

 private:
  const TestMainLoop& loop_;
};

TEST(ResultThreads, ScanThreadFilesRecordsAndHandsDisplayToTheMainThread) {
  TestMainLoop loop;
  NotificationCenter nc;
  ThreadRecordingView view(loop);
  MzResultViewController results(nc, &view);
  results.prepareForScan();
  std::atomic<bool> done{false};
  std::thread scan([&] {
    for (int i = 0; i < 50; ++i) {
      std::string name = std::to_string(i);
      name.insert(0, 1, 'C');  // not "C" + ...: g++ 12 -O3 warns falsely (-Wrestrict) there
      nc.post("ScanContactInfo", contact(name, ""));
    }
    nc.post("ScanProgressInfo", std::int32_t{40});
    nc.post("ScanMessageInfo", message("1", "x"));
    nc.post("ScanProgressInfo", std::int32_t{50});
    results.ScanThreadFinish();
    done = true;
  });
  loop.runUntil(done);
  scan.join();
  EXPECT_EQ(view.offMainThreadCalls, 0);
  EXPECT_EQ(results.contactArray.size(), 50u);
  EXPECT_EQ(results.messageTreeArray.size(), 1u);
  EXPECT_TRUE(results.bScanFinished);
  EXPECT_EQ(view.shownCategory, ResultCategory::Photo);
}

TEST(ResultThreads, AdvancedPhotoScanRunsOnAWorkerAndFinishes) {
  NotificationCenter nc;
  FakeResultView view;
  MzResultViewController results(nc, &view);
  std::promise<void> ran;
  results.advancedPhotoScan = [&] {
    nc.post("ScanAdancedprogress", std::int32_t{40});
    nc.post("ScanPhotoAndVideo", media("IMG_0001.JPG"));
    nc.post("ScanAdancedprogress");  // no number: 0
    nc.post("ScanAdancedFinished");
    ran.set_value();
  };
  results.PhotoAdancedScan();
  ran.get_future().wait();
  EXPECT_EQ(results.photoAndVideoArray.size(), 1u);
  EXPECT_EQ(view.progressText, "0%");
  EXPECT_TRUE(results.bScanFinished);
  EXPECT_FALSE(view.controls.advancedProgressShown);
  EXPECT_TRUE(view.controls.advancedScanHidden);
  EXPECT_FALSE(view.controls.photoTabHidden);
  EXPECT_TRUE(view.controls.contactTabHidden);  // only the photos tab comes back
  EXPECT_EQ(view.shownCategory, ResultCategory::Photo);
  EXPECT_EQ(view.rows.size(), 1u);
}

}  // namespace
