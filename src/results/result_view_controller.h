// The results controller: everything a scan finds, and the user's selection of it.
//
// It observes the scanners' notifications, files each record into the result list of its
// category with live and deleted counts, groups messages into conversations, drops carved
// records that are empty or already filed, and keeps the ticks, the tick-all flags, the
// table contents and highlights, the progress and count labels and the enabled states of
// the results view. It reports every change to a ResultView; without one it only keeps
// the state.
//
// Threads. Record notifications are filed on the poster's thread (the scan thread) without
// locks: the main thread reads the lists only after ScanFinishOnMainThread, which the
// scan thread runs on the main thread through ScanThreadFinish and waits for. Progress,
// count labels, device information, cloud-folder media and the backup-browser records
// move to the main thread (performOnMainThreadAndWait) with the poster waiting. Every
// other operation is called on the main thread. While a scan runs (from prepareForScan or
// PhotoAdancedScan until it finishes) the operations that read the lists on the main
// thread (opening a category, tick-all, the deleted-only switch, switching backups, going
// home) do nothing, and recovery stays disabled.
#pragma once

#include <any>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/notification_center.h"
#include "catalogue/device_node.h"
#include "catalogue/tree_dir_node.h"
#include "extract/item_records.h"
#include "extract/scan_lists.h"
#include "results/deleted_record_filter.h"
#include "results/record_history.h"
#include "results/result_record.h"
#include "results/result_sorting.h"
#include "results/result_view.h"

class MzResultViewController {
 public:
  // Registers for every notification of the results on `center`; the observers are
  // removed again when the controller is destroyed.
  explicit MzResultViewController(NotificationCenter& center = NotificationCenter::defaultCenter(),
                                  ResultView* view = nullptr);
  ~MzResultViewController();
  MzResultViewController(const MzResultViewController&) = delete;
  MzResultViewController& operator=(const MzResultViewController&) = delete;

  // The view that shows the state (none: nothing is shown). Set on the main thread while
  // no scan runs.
  void setView(ResultView* view) { view_ = view; }
  // The view set with setView, or null.
  ResultView* resultView() const { return view_; }
  // The backup-browser tree (none: file-index records are not shown, and no tree file
  // counts as ticked). Set while no scan runs.
  void setBackupBrowserTree(BackupBrowserTree* tree) { tree_ = tree; }

  // Set by the application delegate.
  // Starts the scan of another backup: set it current with its OS flags and start the scan
  // thread. The controller has already released the results and shown the progress view.
  std::function<void(std::shared_ptr<MzIOSDeviceNode>)> startScan;
  // Shows the entry views again (going home).
  std::function<void()> showEntryView;
  // The device media scan of the advanced photo scan; runs on its own worker thread and
  // ends by posting "ScanAdancedFinished".
  std::function<void()> advancedPhotoScan;

  // Notification handlers; each ignores an object of the wrong type.
  void ScanPhotoAndVideoHandle(const std::any& object);
  void ScanAppPhotoAndVideoHandle(const std::any& object);
  void ScanPhotoAndVideoInfomationHandle(const std::any& object);
  void ScanContactInfomationHandle(const std::any& object);
  void ScanMessageInfomationHandle(const std::any& object);
  void ScanCallHistoryInfomationHandle(const std::any& object);
  void ScanNoteInfomationHandle(const std::any& object);
  void scanBookMarkInfoHandle(const std::any& object);
  void scanCalenderInfoHandle(const std::any& object);
  void scanFaceTwitterInfoHandle(const std::any& object);
  void ScanDelContactInfomationHandle(const std::any& object);
  // An earlier version of a live contact (its rowid the live person's): into its history.
  void ScanContactEarlierVersionHandle(const std::any& object);
  void ScanDelMessageInfomationHandle(const std::any& object);
  void ScanDelNoteInfomationHandle(const std::any& object);
  void ScanDelCallHistoryInfomationHandle(const std::any& object);
  void scanDelBookMarkInfoHandle(const std::any& object);
  void scanDelCalenderInfoHandle(const std::any& object);
  void ScanProgressInfomationHandle(const std::any& object);
  void FindBackUpDirFileInfoHandle(const std::any& object);
  void RefreshNodeSelctedStatuHandle(const std::any& object);
  void ScanIOSDeviceInfoHandle(const std::any& object);
  void ScanAdancedprogressHandle(const std::any& object);
  void ScanAdancedFinishedHandle(const std::any& object);

  // A backup scan is about to start: controls disabled, progress view shown at 0.
  void prepareForScan();
  // Called by the scan thread after the last step; runs ScanFinishOnMainThread on the
  // main thread and returns when it has run.
  void ScanThreadFinish();
  // Ends the scan: progress reset and hidden, controls enabled, the sixteen per-category
  // counters zeroed (the totals stay), the camera-roll category opened.
  void ScanFinishOnMainThread();

  // The backup whose results are shown; its present fields fill the information labels.
  void setCurrentBackup(std::shared_ptr<MzIOSDeviceNode> node);
  // Whether the results come from a backup just made of a connected device: the device
  // information then carries the heading "iOS Device Information" in place of the backup
  // time, and the advanced photo scan is offered once the scan has finished. Set before
  // prepareForScan.
  void setDeviceMode(bool deviceMode) { deviceMode_ = deviceMode; }
  bool deviceMode() const { return deviceMode_; }
  const std::shared_ptr<MzIOSDeviceNode>& currentBackup() const { return currentBackup_; }
  // The earlier versions of the live records filed (record_history.h).
  const RecordHistory& history() const { return history_; }

  // Opening a category: its view is shown with its whole list, the first row highlighted
  // and the deleted-only switch off.
  void openCategory(ResultCategory category);
  void actPhoto() { openCategory(ResultCategory::Photo); }
  void actAppPhoto() { openCategory(ResultCategory::AppPhoto); }
  void actContact() { openCategory(ResultCategory::Contact); }
  void actMessage() { openCategory(ResultCategory::Message); }
  void actCallHistory() { openCategory(ResultCategory::CallHistory); }
  void actNote() { openCategory(ResultCategory::Note); }
  void actBookMark() { openCategory(ResultCategory::BookMark); }
  void actCalender() { openCategory(ResultCategory::Calender); }
  void actFaceTwitter() { openCategory(ResultCategory::FaceTwitter); }
  void actBackUpBoswer() { openCategory(ResultCategory::BackUpBrowser); }

  // The user highlighted `rows` of the current table (rows past its end are dropped).
  void tableViewSelectionDidChange(std::vector<std::size_t> rows);
  // A tick box of the current table: `value` 1 ticks, anything else unticks. When the
  // clicked row is highlighted every highlighted row takes the state, otherwise the
  // clicked row alone. Only the column "bSelected" holds tick boxes.
  void tableViewSetObjectValue(int value, const std::string& column, std::size_t row);
  // Sorts the current table by `column` (see result_sorting.h) and highlights row 0.
  void tableViewDidClickTableColumn(const std::string& column);
  // Replaces the rows the current table shows (as the search does), highlighting row 0.
  void showRows(ResultRows rows);

  // The tick-all button with its new state (1 = tick): every record of the media list, or
  // every row the current table shows; the category's tick-all flag remembers the state.
  void ClickSelectAll(int state);
  // The switch "Only dispaly deleted files": on shows the deleted records only.
  void actCheck(bool on);
  // The backup pop-up: another backup releases the results and starts its scan; the one
  // already shown does nothing.
  void actSelectBackUpBtn(std::shared_ptr<MzIOSDeviceNode> chosen);
  // The home button: asks first; on " Back " releases the results and shows the entry view.
  void actHome();
  // Empties every result list, the rows shown and the backup-browser tree.
  void releaseUIMemory();
  // The advanced photo scan button: starts advancedPhotoScan on a worker thread.
  void PhotoAdancedScan();
  // The advanced photo scan's thread is running (its last post may still be on its way).
  bool advancedScanRunning() const { return advancedScanRunning_.load(); }

  // Refreshes the selection label and the recover button from the ticks.
  void updateSelectionCount();
  // selectedFilesNum plus the ticked backup-browser files.
  std::int64_t selectionTotal() const;

  static std::uint64_t sizeFormString(std::string_view text) { return ::sizeFormString(text); }

  // Counts computed from the lists (the per-category counters are zeroed at the end of a
  // scan): live and deleted records of a category. For messages these are messages, not
  // conversations; media and social media have no deleted records.
  struct CategoryCounts {
    std::size_t live = 0;
    std::size_t deleted = 0;
  };
  CategoryCounts countsFor(ResultCategory category) const;

  // The result lists.
  RecordList<MzPhotoAndVideoNode> photoAndVideoArray;
  RecordList<MzPhotoAndVideoNode> appPhotoAndVideoArray;
  RecordList<MzContactNode> contactArray;
  RecordList<MzMessageNode> messageArray;
  RecordList<MzMessageTreeNode> messageTreeArray;
  RecordList<MzCallHistoryNode> callHistoryArray;
  RecordList<MzNoteNode> noteArray;
  RecordList<MzBookMarkNode> bookMarkArray;
  RecordList<MzCalenderNode> calenderArray;
  RecordList<MzFaceTwitterNode> faceTwitterArray;
  ResultRows searchArray;

  // Counters.
  std::int32_t BackUpFilesNum = 0;
  std::int32_t deleteeFilesNum = 0;
  std::int32_t photovideoNum = 0;
  std::int32_t contactNum = 0;
  std::int32_t messageNum = 0;
  std::int32_t noteNum = 0;
  std::int32_t callNum = 0;
  std::int32_t bookMarkNum = 0;
  std::int32_t calenderNum = 0;
  std::int32_t facetwitterNum = 0;
  std::int32_t delPhotovideoNum = 0;
  std::int32_t delContactNum = 0;
  std::int32_t delMessageNum = 0;
  std::int32_t delNoteNum = 0;
  std::int32_t delCallNum = 0;
  std::int32_t delBookMarkNum = 0;
  std::int32_t delCalenderNum = 0;
  std::int32_t delfacetwitterNum = 0;
  std::int32_t selectedFilesNum = 0;
  std::int32_t recovredFilesNum = 0;
  std::uint64_t imagecount = 0;  // names of cloud-folder images; never reset
  std::uint64_t movCount = 0;    // names of cloud-folder movies; never reset

  // Flags.
  bool bScanFinished = true;  // no scan is running
  bool bOnlyDisplayDeleted = false;
  bool bPhotoSelectAll = false;
  bool bAppPhotoSelectAll = false;
  bool bContctSelectAll = false;
  bool bMessageSelectAll = false;
  bool bNoteSelectAll = false;
  bool bCallSelectAll = false;
  bool bbookMarkSelectAll = false;
  bool bcalenderSelectAll = false;
  bool bfaceTwitterSelectAll = false;
  SortSwitches sortSwitches;

  // What the view shows.
  ResultCategory currentCategory() const { return currentCategory_; }
  const ResultRows& shownRows() const { return shownRows_; }
  const std::vector<std::size_t>& highlightedRows() const { return highlighted_; }
  const ResultControls& controls() const { return controls_; }
  double progressFraction() const { return progressFraction_; }
  const std::string& progressText() const { return progressText_; }
  const CountLabels& countLabels() const { return countLabels_; }
  const DeviceInfoLabels& deviceInfo() const { return deviceInfo_; }

 private:
  ResultView& view();
  void pushControls();
  void setProgress(std::int32_t value);
  void refreshCountLabels();
  void setShownRows(ResultRows rows);
  ResultRows wholeList(ResultCategory category) const;
  bool* selectAllFlag(ResultCategory category);
  // Sets the tick of `record`; selectedFilesNum follows when it actually changed.
  void applyTick(const ResultRecord& record, bool on);
  void fileCloudMedia(const std::string& path);
  void releaseResults();

  template <typename T>
  void fileLiveRecord(RecordList<T>& list, std::int32_t& counter, const std::any& object);
  // Whether `record` matches `same`, a record already filed; when `same` is live, `record`
  // joins its history.
  template <typename T>
  bool keptAsEarlierVersion(const T& record, const T* same);
  template <typename T>
  void fileDeletedRecord(RecordList<T>& list, FiledKeys<T>& keys, std::int32_t& counter,
                         const std::any& object);

  // The key fields filed per list, for the carved records' duplicate test.
  RecordHistory history_;
  FiledKeys<MzContactNode> contactKeys_;
  FiledKeys<MzMessageNode> messageKeys_;
  FiledKeys<MzCallHistoryNode> callKeys_;
  FiledKeys<MzNoteNode> noteKeys_;
  FiledKeys<MzBookMarkNode> bookMarkKeys_;
  FiledKeys<MzCalenderNode> calendarKeys_;

  NotificationCenter& center_;
  std::vector<NotificationCenter::ObserverId> observers_;
  ResultView* view_ = nullptr;
  BackupBrowserTree* tree_ = nullptr;
  std::shared_ptr<MzIOSDeviceNode> currentBackup_;
  std::thread advancedScanThread_;
  std::atomic<bool> advancedScanRunning_{false};

  ResultCategory currentCategory_ = ResultCategory::Photo;
  ResultRows shownRows_;
  std::vector<std::size_t> highlighted_;
  ResultControls controls_;
  double progressFraction_ = 0;
  std::string progressText_ = "0%";
  std::int32_t progressTextValue_ = 0;  // the value progressText_ shows
  CountLabels countLabels_;
  // The counts countLabels_ shows; none before the first refresh.
  std::optional<std::array<std::int32_t, 9>> labelledCounts_;
  DeviceInfoLabels deviceInfo_;
  bool deviceMode_ = false;
};
