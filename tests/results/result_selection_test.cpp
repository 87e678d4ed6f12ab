#include <gtest/gtest.h>

#include "fake_result_view.h"
#include "results/result_view_controller.h"

namespace {

class ResultSelection : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"Ann", "Bob", "Cid", "Dee", "Eve"}) {
      nc.post("ScanContactInfo", contact(name, std::string(" ") + name));
    }
    nc.post("ScanDelContactInfo", contact("Fay", " 6"));
    for (const char* name : {"10.jpg", "9.jpg", "abc.jpg"})
      nc.post("ScanPhotoAndVideo", media(name));
    nc.post("ScanAppPhotoAndVideo", media("app.png"));
    results.ScanThreadFinish();
  }

  std::string selectionLabel() const {
    return view.controls.selectionLabelHidden ? "<hidden>" : view.controls.selectionLabel;
  }

  NotificationCenter nc;
  FakeResultView view;
  MzResultViewController results{nc, &view};
};

TEST_F(ResultSelection, TickBoxActsOnEveryHighlightedRow) {
  results.actContact();
  ASSERT_EQ(results.shownRows().size(), 6u);
  EXPECT_EQ(view.highlighted, std::vector<std::size_t>{0});
  results.tableViewSelectionDidChange({1});
  results.tableViewSetObjectValue(1, "bSelected", 1);  // one row ticked beforehand
  EXPECT_EQ(results.selectedFilesNum, 1);
  results.tableViewSelectionDidChange({2, 0, 1, 99});  // 99 is past the end
  EXPECT_EQ(results.highlightedRows(), (std::vector<std::size_t>{0, 1, 2}));

  results.tableViewSetObjectValue(1, "bSelected", 0);
  EXPECT_EQ(results.selectedFilesNum, 3);  // raised by the two that changed
  EXPECT_EQ(selectionLabel(), "You select 3 files in the recovery results.");
  EXPECT_TRUE(view.controls.recoverEnabled);
  EXPECT_TRUE(results.contactArray[2]->bSelected);
  EXPECT_FALSE(results.contactArray[3]->bSelected);

  // A tick box outside the highlight changes its own row only.
  results.tableViewSetObjectValue(1, "bSelected", 4);
  EXPECT_TRUE(results.contactArray[4]->bSelected);
  EXPECT_EQ(results.selectedFilesNum, 4);
  // Other columns and rows past the end change nothing.
  results.tableViewSetObjectValue(0, "Name", 0);
  results.tableViewSetObjectValue(1, "bSelected", 6);
  EXPECT_EQ(results.selectedFilesNum, 4);

  results.tableViewSelectionDidChange({0, 1, 2, 3, 4, 5});
  results.tableViewSetObjectValue(0, "bSelected", 3);
  EXPECT_EQ(results.selectedFilesNum, 0);
  EXPECT_EQ(selectionLabel(), "<hidden>");
  EXPECT_FALSE(view.controls.recoverEnabled);
}

TEST_F(ResultSelection, UntickingTheLastTickHidesTheLabel) {
  results.actContact();
  results.tableViewSetObjectValue(1, "bSelected", 0);
  EXPECT_EQ(selectionLabel(), "You select 1 files in the recovery results.");
  results.tableViewSetObjectValue(0, "bSelected", 0);
  EXPECT_EQ(results.selectedFilesNum, 0);
  EXPECT_EQ(selectionLabel(), "<hidden>");
  EXPECT_FALSE(view.controls.recoverEnabled);
}

TEST_F(ResultSelection, BrowserTreeTicksJoinTheCount) {
  FakeBrowserTree tree;
  tree.ticked = 3;
  results.setBackupBrowserTree(&tree);
  results.updateSelectionCount();
  EXPECT_EQ(selectionLabel(), "You select 3 files in the recovery results.");
  EXPECT_TRUE(view.controls.recoverEnabled);
  results.actContact();
  results.tableViewSetObjectValue(1, "bSelected", 0);
  EXPECT_EQ(selectionLabel(), "You select 4 files in the recovery results.");
  results.setBackupBrowserTree(nullptr);
}

TEST_F(ResultSelection, ThumbnailTicksCopyTheirState) {
  auto record = results.photoAndVideoArray[0];
  nc.post("RefreshNodeSelctedStatu", ThumbnailTick{record, 1});
  nc.post("RefreshNodeSelctedStatu", ThumbnailTick{record, 1});  // no change the second time
  EXPECT_TRUE(record->bSelected);
  EXPECT_EQ(results.selectedFilesNum, 1);
  nc.post("RefreshNodeSelctedStatu", ThumbnailTick{record, 0});
  EXPECT_EQ(results.selectedFilesNum, 0);
  nc.post("RefreshNodeSelctedStatu", ThumbnailTick{nullptr, 1});
  EXPECT_EQ(results.selectedFilesNum, 0);
}

TEST_F(ResultSelection, TickAllPerCategoryWithRememberedFlags) {
  // Media: the whole list, even rows the grid does not show.
  results.actPhoto();
  results.showRows({results.photoAndVideoArray[0]});
  results.ClickSelectAll(1);
  EXPECT_EQ(results.selectedFilesNum, 3);
  EXPECT_TRUE(results.bPhotoSelectAll);
  EXPECT_GT(view.redraws, 0);
  EXPECT_FALSE(results.appPhotoAndVideoArray[0]->bSelected);

  // Other categories: the rows currently shown.
  results.actContact();
  results.actCheck(true);  // only the deleted contact is shown
  results.ClickSelectAll(1);
  EXPECT_EQ(results.selectedFilesNum, 4);
  EXPECT_TRUE(results.contactArray[5]->bSelected);
  EXPECT_FALSE(results.contactArray[0]->bSelected);
  EXPECT_TRUE(results.bContctSelectAll);

  results.actNote();
  EXPECT_FALSE(view.controls.selectAllOn);
  results.actContact();
  EXPECT_TRUE(view.controls.selectAllOn);  // remembered per category
  results.ClickSelectAll(0);
  EXPECT_EQ(results.selectedFilesNum, 3);
  EXPECT_FALSE(results.bContctSelectAll);

  results.actAppPhoto();
  results.ClickSelectAll(1);
  EXPECT_TRUE(results.bAppPhotoSelectAll);
  EXPECT_EQ(results.selectedFilesNum, 4);
}

TEST_F(ResultSelection, DeletedOnlySwitch) {
  results.actContact();
  EXPECT_TRUE(view.controls.deletedOnlyShown);
  results.actCheck(true);
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_TRUE(isDeletedRecord(view.rows[0]));
  EXPECT_TRUE(view.controls.deletedOnlyOn);
  EXPECT_FALSE(view.controls.previewLabelsHidden);
  results.actCheck(false);
  EXPECT_EQ(view.rows.size(), 6u);

  results.actNote();  // no notes at all: the preview labels go
  results.actCheck(true);
  EXPECT_TRUE(view.rows.empty());
  EXPECT_TRUE(view.highlighted.empty());
  EXPECT_TRUE(view.controls.previewLabelsHidden);

  results.actContact();  // opening a category clears the switch
  EXPECT_FALSE(results.bOnlyDisplayDeleted);
  EXPECT_EQ(view.rows.size(), 6u);

  results.actPhoto();  // media have no switch
  EXPECT_FALSE(view.controls.deletedOnlyShown);
  results.actCheck(true);
  EXPECT_EQ(view.rows.size(), 3u);
}

TEST_F(ResultSelection, DeletedConversationsUnderTheSwitch) {
  nc.post("ScanMessageInfo", message("5550100", "live"));
  nc.post("ScanDelMessageInfo", message("5550100", "gone", "02-02-2014 10:00"));
  results.actMessage();
  EXPECT_EQ(view.rows.size(), 2u);
  results.actCheck(true);
  ASSERT_EQ(view.rows.size(), 1u);
  EXPECT_TRUE(std::get<std::shared_ptr<MzMessageTreeNode>>(view.rows[0])->bdeleted);
  // Ticking a conversation ticks the conversation only.
  results.tableViewSetObjectValue(1, "bSelected", 0);
  EXPECT_EQ(results.selectedFilesNum, 1);
  EXPECT_FALSE(results.messageArray[1]->bSelected);
}

std::vector<std::string> shownMediaNames(const ResultRows& rows) {
  std::vector<std::string> names;
  for (const auto& r : rows)
    names.push_back(std::get<std::shared_ptr<MzPhotoAndVideoNode>>(r)->fileNodeName);
  return names;
}

TEST_F(ResultSelection, SortingCameraRollAndCalls) {
  results.actPhoto();
  results.tableViewSelectionDidChange({2});
  results.tableViewDidClickTableColumn("Name");
  EXPECT_EQ(shownMediaNames(view.rows), (std::vector<std::string>{"abc.jpg", "9.jpg", "10.jpg"}));
  EXPECT_EQ(view.highlighted, std::vector<std::size_t>{0});
  results.tableViewDidClickTableColumn("Name");
  EXPECT_EQ(shownMediaNames(view.rows), (std::vector<std::string>{"10.jpg", "9.jpg", "abc.jpg"}));
  results.tableViewDidClickTableColumn("bSelected");  // never sorts, switch untouched
  results.tableViewDidClickTableColumn("Date");       // does not sort
  EXPECT_FALSE(results.sortSwitches.bNameOrder);
  EXPECT_EQ(shownMediaNames(view.rows), (std::vector<std::string>{"10.jpg", "9.jpg", "abc.jpg"}));

  results.actAppPhoto();
  results.tableViewDidClickTableColumn("Name");  // app media do not sort
  EXPECT_FALSE(results.sortSwitches.bNameOrder);

  nc.post("ScanCallHistoryInfo", call("Zed", "1", "01-01-2014 00:00"));
  nc.post("ScanCallHistoryInfo", call("Amy", "2", "12-31-2013 23:59"));
  nc.post("ScanCallHistoryInfo", call("Kim", "3", "02-01-2013 08:00"));
  results.actCallHistory();
  results.tableViewDidClickTableColumn("Date");
  auto callAt = [&](std::size_t i) {
    return std::get<std::shared_ptr<MzCallHistoryNode>>(view.rows[i])->callName.value_or("");
  };
  EXPECT_EQ(callAt(0), "Kim");
  EXPECT_EQ(callAt(1), "Amy");
  EXPECT_EQ(callAt(2), "Zed");
  // The name switch is shared: after the contacts' ascending click, calls sort descending.
  results.actContact();
  results.tableViewDidClickTableColumn("Name");
  EXPECT_TRUE(results.sortSwitches.bNameOrder);
  results.actCallHistory();
  results.tableViewDidClickTableColumn("Name");
  EXPECT_EQ(callAt(0), "Zed");
  EXPECT_EQ(callAt(2), "Amy");
}

}  // namespace
