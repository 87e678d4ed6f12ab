// The results controller's categories, table rows, ticks, tick-all, sorting and the
// deleted-only switch (all on the main thread).
#include <algorithm>
#include <string>
#include <utility>

#include "results/result_view_controller.h"

namespace {

// The categories whose tables can show deleted records only.
bool hasDeletedOnlySwitch(ResultCategory category) {
  switch (category) {
    case ResultCategory::Contact:
    case ResultCategory::Message:
    case ResultCategory::Note:
    case ResultCategory::CallHistory:
    case ResultCategory::BookMark:
    case ResultCategory::Calender:
      return true;
    default:
      return false;
  }
}

template <typename T>
MzResultViewController::CategoryCounts countDeleted(const RecordList<T>& list) {
  MzResultViewController::CategoryCounts counts;
  for (const auto& r : list) {
    if (r == nullptr) continue;
    if (r->bDeleted) {
      ++counts.deleted;
    } else {
      ++counts.live;
    }
  }
  return counts;
}

constexpr const char* kSelectionLabel = "You select %d files in the recovery results.";

}  // namespace

ResultRows MzResultViewController::wholeList(ResultCategory category) const {
  switch (category) {
    case ResultCategory::Photo:
      return toRows(photoAndVideoArray);
    case ResultCategory::AppPhoto:
      return toRows(appPhotoAndVideoArray);
    case ResultCategory::Contact:
      return toRows(contactArray);
    case ResultCategory::Message:
      return toRows(messageTreeArray);
    case ResultCategory::Note:
      return toRows(noteArray);
    case ResultCategory::CallHistory:
      return toRows(callHistoryArray);
    case ResultCategory::BookMark:
      return toRows(bookMarkArray);
    case ResultCategory::Calender:
      return toRows(calenderArray);
    case ResultCategory::FaceTwitter:
      return toRows(faceTwitterArray);
    case ResultCategory::BackUpBrowser:
      break;  // the tree shows itself
  }
  return {};
}

bool* MzResultViewController::selectAllFlag(ResultCategory category) {
  switch (category) {
    case ResultCategory::Photo:
      return &bPhotoSelectAll;
    case ResultCategory::AppPhoto:
      return &bAppPhotoSelectAll;
    case ResultCategory::Contact:
      return &bContctSelectAll;
    case ResultCategory::Message:
      return &bMessageSelectAll;
    case ResultCategory::Note:
      return &bNoteSelectAll;
    case ResultCategory::CallHistory:
      return &bCallSelectAll;
    case ResultCategory::BookMark:
      return &bbookMarkSelectAll;
    case ResultCategory::Calender:
      return &bcalenderSelectAll;
    case ResultCategory::FaceTwitter:
      return &bfaceTwitterSelectAll;
    case ResultCategory::BackUpBrowser:
      break;
  }
  return nullptr;
}

void MzResultViewController::setShownRows(ResultRows rows) {
  shownRows_ = std::move(rows);
  highlighted_.clear();
  if (!shownRows_.empty()) highlighted_.push_back(0);
  view().setTableRows(currentCategory_, shownRows_);
  view().setHighlightedRows(highlighted_);
}

void MzResultViewController::showRows(ResultRows rows) { setShownRows(std::move(rows)); }

void MzResultViewController::openCategory(ResultCategory category) {
  if (!bScanFinished) return;
  currentCategory_ = category;
  view().showCategory(category);
  bOnlyDisplayDeleted = false;
  controls_.deletedOnlyOn = false;
  controls_.deletedOnlyShown = hasDeletedOnlySwitch(category);
  const bool* flag = selectAllFlag(category);
  controls_.selectAllOn = flag != nullptr && *flag;
  setShownRows(wholeList(category));
  controls_.previewLabelsHidden = shownRows_.empty();
  pushControls();
}

void MzResultViewController::actCheck(bool on) {
  if (!bScanFinished || !hasDeletedOnlySwitch(currentCategory_)) return;
  bOnlyDisplayDeleted = on;
  controls_.deletedOnlyOn = on;
  ResultRows rows = wholeList(currentCategory_);
  if (on) std::erase_if(rows, [](const ResultRecord& r) { return !isDeletedRecord(r); });
  setShownRows(std::move(rows));
  controls_.previewLabelsHidden = shownRows_.empty();
  pushControls();
}

void MzResultViewController::tableViewSelectionDidChange(std::vector<std::size_t> rows) {
  std::erase_if(rows, [this](std::size_t r) { return r >= shownRows_.size(); });
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  highlighted_ = std::move(rows);
}

void MzResultViewController::applyTick(const ResultRecord& record, bool on) {
  if (setSelected(record, on)) selectedFilesNum += on ? 1 : -1;
}

void MzResultViewController::tableViewSetObjectValue(int value, const std::string& column,
                                                     std::size_t row) {
  if (column != "bSelected" || currentCategory_ == ResultCategory::BackUpBrowser) return;
  if (row >= shownRows_.size()) return;
  const bool on = value == 1;
  bool clickedIsHighlighted = std::binary_search(highlighted_.begin(), highlighted_.end(), row);
  if (clickedIsHighlighted) {
    for (std::size_t r : highlighted_) applyTick(shownRows_[r], on);
  } else {
    applyTick(shownRows_[row], on);
  }
  view().redrawTicks();
  updateSelectionCount();
}

void MzResultViewController::RefreshNodeSelctedStatuHandle(const std::any& object) {
  const auto* tick = std::any_cast<ThumbnailTick>(&object);
  if (tick == nullptr || tick->node == nullptr) return;
  applyTick(ResultRecord(tick->node), tick->checkState == 1);
  updateSelectionCount();
}

void MzResultViewController::ClickSelectAll(int state) {
  bool* flag = selectAllFlag(currentCategory_);
  if (!bScanFinished || flag == nullptr) return;
  const bool on = state == 1;
  if (currentCategory_ == ResultCategory::Photo) {
    for (const auto& r : photoAndVideoArray) applyTick(ResultRecord(r), on);
  } else if (currentCategory_ == ResultCategory::AppPhoto) {
    for (const auto& r : appPhotoAndVideoArray) applyTick(ResultRecord(r), on);
  } else {
    for (const auto& r : shownRows_) applyTick(r, on);
  }
  *flag = on;
  controls_.selectAllOn = on;
  view().redrawTicks();
  updateSelectionCount();
}

void MzResultViewController::tableViewDidClickTableColumn(const std::string& column) {
  ResultRows rows = shownRows_;
  if (sortRowsByColumn(rows, currentCategory_, column, sortSwitches)) {
    setShownRows(std::move(rows));
  }
}

std::int64_t MzResultViewController::selectionTotal() const {
  std::int64_t total = selectedFilesNum;
  if (tree_ != nullptr) total += static_cast<std::int64_t>(tree_->getTreeSelectedItemNum());
  return total;
}

void MzResultViewController::updateSelectionCount() {
  std::int64_t total = selectionTotal();
  if (total >= 1) {
    std::string label = kSelectionLabel;
    label.replace(label.find("%d"), 2, std::to_string(total));
    controls_.selectionLabel = std::move(label);
    controls_.selectionLabelHidden = false;
  } else {
    controls_.selectionLabelHidden = true;
  }
  // Nothing is recovered while a scan still files records into the lists.
  controls_.recoverEnabled = total >= 1 && bScanFinished;
  pushControls();
}

MzResultViewController::CategoryCounts MzResultViewController::countsFor(
    ResultCategory category) const {
  switch (category) {
    case ResultCategory::Photo:
      return {photoAndVideoArray.size(), 0};
    case ResultCategory::AppPhoto:
      return {appPhotoAndVideoArray.size(), 0};
    case ResultCategory::FaceTwitter:
      return {faceTwitterArray.size(), 0};
    case ResultCategory::Contact:
      return countDeleted(contactArray);
    case ResultCategory::Message:
      return countDeleted(messageArray);
    case ResultCategory::Note:
      return countDeleted(noteArray);
    case ResultCategory::CallHistory:
      return countDeleted(callHistoryArray);
    case ResultCategory::BookMark:
      return countDeleted(bookMarkArray);
    case ResultCategory::Calender:
      return countDeleted(calenderArray);
    case ResultCategory::BackUpBrowser:
      break;
  }
  return {};
}
