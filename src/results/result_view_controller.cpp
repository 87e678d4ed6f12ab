// Filing, progress, the scan's life, switching backups and going home. The selection,
// categories and sorting are in result_selection.cpp.
#include "results/result_view_controller.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/conversions.h"
#include "base/localization.h"
#include "base/main_thread.h"
#include "catalogue/device_controller.h"
#include "results/conversation_grouping.h"
#include "results/deleted_record_filter.h"
#include "results/media_signature.h"
#include "results/partial_contact_filter.h"
#include "results/text_records.h"

namespace {

// Stands in when no view is set: shows nothing and answers every question with its last
// button (the cancelling one).
class NullResultView : public ResultView {
 public:
  void setControls(const ResultControls&) override {}
  void setProgress(double, const std::string&) override {}
  void setCountLabels(const CountLabels&) override {}
  void setDeviceInfo(const DeviceInfoLabels&) override {}
  void showCategory(ResultCategory) override {}
  void setTableRows(ResultCategory, const ResultRows&) override {}
  void setHighlightedRows(const std::vector<std::size_t>&) override {}
  void redrawTicks() override {}
  int askQuestion(const std::string&, const std::vector<std::string>& buttons) override {
    return buttons.empty() ? 0 : static_cast<int>(buttons.size()) - 1;
  }
};

// The record a notification carries, or null when the object is of another type.
template <typename T>
std::shared_ptr<T> recordPayload(const std::any& object) {
  const auto* p = std::any_cast<std::shared_ptr<T>>(&object);
  return p != nullptr ? *p : nullptr;
}

constexpr const char* kGoHomeQuestion =
    "Are you sure you want to go back to Home? If Back, the scanning results will not be "
    "saved.";

}  // namespace

MzResultViewController::MzResultViewController(NotificationCenter& center, ResultView* view)
    : center_(center), view_(view) {
  using Handler = void (MzResultViewController::*)(const std::any&);
  const std::pair<const char*, Handler> table[] = {
      {"ScanPhotoAndVideo", &MzResultViewController::ScanPhotoAndVideoHandle},
      {"ScanAppPhotoAndVideo", &MzResultViewController::ScanAppPhotoAndVideoHandle},
      {"ScanPhotoAndVideoInfo", &MzResultViewController::ScanPhotoAndVideoInfomationHandle},
      {"ScanContactInfo", &MzResultViewController::ScanContactInfomationHandle},
      {"ScanMessageInfo", &MzResultViewController::ScanMessageInfomationHandle},
      {"ScanCallHistoryInfo", &MzResultViewController::ScanCallHistoryInfomationHandle},
      {"ScanNoteInfo", &MzResultViewController::ScanNoteInfomationHandle},
      {"scanBookMarkInfo", &MzResultViewController::scanBookMarkInfoHandle},
      {"scanCalenderInfo", &MzResultViewController::scanCalenderInfoHandle},
      {"scanFaceTwitterInfo", &MzResultViewController::scanFaceTwitterInfoHandle},
      {"ScanDelContactInfo", &MzResultViewController::ScanDelContactInfomationHandle},
      {"ScanContactEarlierVersionInfo", &MzResultViewController::ScanContactEarlierVersionHandle},
      {"ScanDelMessageInfo", &MzResultViewController::ScanDelMessageInfomationHandle},
      {"ScanDelNoteInfo", &MzResultViewController::ScanDelNoteInfomationHandle},
      {"ScanDelCallHistoryInfo", &MzResultViewController::ScanDelCallHistoryInfomationHandle},
      {"scanDelBookMarkInfo", &MzResultViewController::scanDelBookMarkInfoHandle},
      {"scanDelCalenderInfo", &MzResultViewController::scanDelCalenderInfoHandle},
      {"ScanProgressInfo", &MzResultViewController::ScanProgressInfomationHandle},
      {"FindBackUpDirFileInfo", &MzResultViewController::FindBackUpDirFileInfoHandle},
      {"RefreshNodeSelctedStatu", &MzResultViewController::RefreshNodeSelctedStatuHandle},
      {"ScanIOSDeviceInfo", &MzResultViewController::ScanIOSDeviceInfoHandle},
      {"ScanAdancedprogress", &MzResultViewController::ScanAdancedprogressHandle},
      {"ScanAdancedFinished", &MzResultViewController::ScanAdancedFinishedHandle},
  };
  for (const auto& entry : table) {
    Handler handler = entry.second;
    observers_.push_back(center_.addObserver(
        entry.first, [this, handler](const std::any& object) { (this->*handler)(object); }));
  }
  refreshCountLabels();
}

MzResultViewController::~MzResultViewController() {
  for (auto id : observers_) center_.removeObserver(id);
  if (advancedScanThread_.joinable()) advancedScanThread_.join();
}

ResultView& MzResultViewController::view() {
  static NullResultView none;
  return view_ != nullptr ? *view_ : none;
}

void MzResultViewController::pushControls() { view().setControls(controls_); }

// ---- Filing (on the poster's thread) ----

template <typename T>
void MzResultViewController::fileLiveRecord(RecordList<T>& list, std::int32_t& counter,
                                            const std::any& object) {
  auto record = recordPayload<T>(object);
  if (record == nullptr) return;
  list.push_back(std::move(record));
  ++counter;
  ++BackUpFilesNum;
}

namespace {

// An earlier version's fields as the detail pane lists them: those with a value, labelled as
// the text export labels them.
using Fields = std::vector<std::pair<std::string, std::string>>;

Fields withValues(std::initializer_list<std::pair<const char*, std::string>> all) {
  Fields fields;
  for (const auto& [label, value] : all) {
    const auto first = value.find_first_not_of(" \t\n");
    if (first == std::string::npos) continue;
    fields.emplace_back(label, value.substr(first, value.find_last_not_of(" \t\n") - first + 1));
  }
  return fields;
}

Fields versionFields(const MzContactNode& r) {
  return withValues({{"Name", r.contactName},
                     {"Phone", r.contactPhone},
                     {"Email", r.contactEmail},
                     {"Company", r.contactCompany},
                     {"JobTitle", r.contactJobtitle},
                     {"Home Page", r.contactHomepage},
                     {"Birthday", r.contactBirthday},
                     {"Note", r.contactNote}});
}
Fields versionFields(const MzNoteNode& r) {
  return withValues({{"Title", r.noteTitle}, {"Note", r.noteContent}, {"Date", r.noteDate}});
}
Fields versionFields(const MzCallHistoryNode& r) {
  return withValues({{"Name", r.callName.value_or("")},
                     {"Phone", r.callPhone},
                     {"Date", r.callDate},
                     {"Type", callTypeText(r)},
                     {"Duration", r.callDuration}});
}
Fields versionFields(const MzBookMarkNode& r) {
  return withValues({{"Title", r.bookMarkTitle}, {"URL", r.bookMarkURL}});
}
Fields versionFields(const MzCalenderNode& r) {
  return withValues({{"Title", r.calTitle},
                     {"Note", r.calNote},
                     {"Start Date", r.startDate},
                     {"End Date", r.endDate},
                     {"Location", r.location}});
}
Fields versionFields(const MzMessageNode& r) {
  return withValues({{"Date", r.messageDate}, {"Text", r.messageContent}});
}

}  // namespace

template <typename T>
bool MzResultViewController::keptAsEarlierVersion(const T& record, const T* same) {
  if (same == nullptr) return false;
  if (!same->bDeleted) history_.add(same, EarlierVersion{versionFields(record), record.origin});
  return true;
}

template <typename T>
void MzResultViewController::fileDeletedRecord(RecordList<T>& list, FiledKeys<T>& keys,
                                               std::int32_t& counter, const std::any& object) {
  auto record = recordPayload<T>(object);
  if (record == nullptr || isEmptyDeletedRecord(*record)) return;
  // A record with the key fields of one already filed is not filed again; one of a live
  // record is its earlier version.
  if (keptAsEarlierVersion(*record, keys.match(*record, list))) return;
  record->bDeleted = true;
  list.push_back(std::move(record));
  ++counter;
  ++deleteeFilesNum;
}

void MzResultViewController::ScanPhotoAndVideoHandle(const std::any& object) {
  fileLiveRecord(photoAndVideoArray, photovideoNum, object);
}

void MzResultViewController::ScanAppPhotoAndVideoHandle(const std::any& object) {
  fileLiveRecord(appPhotoAndVideoArray, photovideoNum, object);
}

void MzResultViewController::ScanContactInfomationHandle(const std::any& object) {
  fileLiveRecord(contactArray, contactNum, object);
}

void MzResultViewController::ScanCallHistoryInfomationHandle(const std::any& object) {
  fileLiveRecord(callHistoryArray, callNum, object);
}

void MzResultViewController::ScanNoteInfomationHandle(const std::any& object) {
  fileLiveRecord(noteArray, noteNum, object);
}

void MzResultViewController::scanBookMarkInfoHandle(const std::any& object) {
  fileLiveRecord(bookMarkArray, bookMarkNum, object);
}

void MzResultViewController::scanCalenderInfoHandle(const std::any& object) {
  fileLiveRecord(calenderArray, calenderNum, object);
}

void MzResultViewController::scanFaceTwitterInfoHandle(const std::any& object) {
  fileLiveRecord(faceTwitterArray, facetwitterNum, object);
}

void MzResultViewController::ScanMessageInfomationHandle(const std::any& object) {
  auto message = recordPayload<MzMessageNode>(object);
  if (message == nullptr) return;
  messageArray.push_back(message);
  ++BackUpFilesNum;
  ++messageNum;
  groupLiveMessage(messageTreeArray, message);
}

void MzResultViewController::ScanContactEarlierVersionHandle(const std::any& object) {
  auto earlier = recordPayload<MzContactNode>(object);
  if (earlier == nullptr || earlier->rowid < 0) return;
  // The live contact of that row of the same database (its log's rows included).
  const std::string& file = earlier->origin.file;
  for (const auto& live : contactArray) {
    if (live == nullptr || live->bDeleted || live->rowid != earlier->rowid ||
        live->origin.kind != RecordOrigin::Kind::Live || live->origin.file.empty() ||
        file.compare(0, live->origin.file.size(), live->origin.file) != 0) {
      continue;
    }
    history_.add(live.get(), EarlierVersion{versionFields(*earlier), earlier->origin});
    return;
  }
}

void MzResultViewController::ScanDelContactInfomationHandle(const std::any& object) {
  if (auto part = recordPayload<MzContactNode>(object);
      part != nullptr && isPartOfFiledContact(*part, contactArray)) {
    return;
  }
  fileDeletedRecord(contactArray, contactKeys_, delContactNum, object);
}

void MzResultViewController::ScanDelNoteInfomationHandle(const std::any& object) {
  fileDeletedRecord(noteArray, noteKeys_, delNoteNum, object);
}

void MzResultViewController::ScanDelCallHistoryInfomationHandle(const std::any& object) {
  fileDeletedRecord(callHistoryArray, callKeys_, delCallNum, object);
}

void MzResultViewController::scanDelBookMarkInfoHandle(const std::any& object) {
  fileDeletedRecord(bookMarkArray, bookMarkKeys_, delBookMarkNum, object);
}

void MzResultViewController::scanDelCalenderInfoHandle(const std::any& object) {
  fileDeletedRecord(calenderArray, calendarKeys_, delCalenderNum, object);
}

void MzResultViewController::ScanDelMessageInfomationHandle(const std::any& object) {
  auto message = recordPayload<MzMessageNode>(object);
  if (message == nullptr || isEmptyDeletedRecord(*message)) return;
  message->messagePhone = cleanDeletedAddress(message->messagePhone);
  if (keptAsEarlierVersion(*message, messageKeys_.match(*message, messageArray))) return;
  groupDeletedMessage(messageTreeArray, message);
  message->bDeleted = true;
  messageArray.push_back(message);
  ++deleteeFilesNum;
  ++delMessageNum;
}

// ---- Work for the main thread, the poster waiting ----

void MzResultViewController::ScanPhotoAndVideoInfomationHandle(const std::any& object) {
  const auto* path = std::any_cast<std::string>(&object);
  if (path == nullptr) return;
  std::string p = *path;
  performOnMainThreadAndWait([this, &p] { fileCloudMedia(p); });
}

void MzResultViewController::fileCloudMedia(const std::string& path) {
  MediaKind kind = mediaKindOfFile(path);
  if (kind == MediaKind::None) return;
  std::error_code ec;
  std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec) size = 0;
  auto node = std::make_shared<MzPhotoAndVideoNode>();
  node->filePath = path;
  node->fileNodeSize = sizeText(size);
  node->fileSizeNumber = size;
  if (kind == MediaKind::Image) {
    ++imagecount;
    node->fileNodeName = getFullName(imagecount) + ".jpg";
  } else {
    ++movCount;
    node->fileNodeName = getFullName(movCount) + ".mov";
    node->bmov = true;
  }
  photoAndVideoArray.push_back(std::move(node));
  ++BackUpFilesNum;
  ++photovideoNum;
}

void MzResultViewController::FindBackUpDirFileInfoHandle(const std::any& object) {
  auto record = recordPayload<MzTreeDirNode>(object);
  if (record == nullptr || record->filePath.empty() || tree_ == nullptr) return;
  performOnMainThreadAndWait([this, &record] { tree_->addTreeNode(record); });
}

void MzResultViewController::ScanIOSDeviceInfoHandle(const std::any& object) {
  auto node = recordPayload<MzIOSDeviceNode>(object);
  if (node == nullptr) return;
  performOnMainThreadAndWait([this, &node] { setCurrentBackup(node); });
}

void MzResultViewController::setCurrentBackup(std::shared_ptr<MzIOSDeviceNode> node) {
  currentBackup_ = std::move(node);
  if (currentBackup_ == nullptr) return;
  auto copyPresent = [](std::string& label, const std::string& value) {
    if (!value.empty()) label = value;
  };
  copyPresent(deviceInfo_.deviceName, currentBackup_->strDeviceName);
  copyPresent(deviceInfo_.serialNumber, currentBackup_->strDeviceSerial);
  copyPresent(deviceInfo_.deviceType, currentBackup_->strDeviceType);
  copyPresent(deviceInfo_.iosVersion, currentBackup_->strIOSVersion);
  if (deviceMode_) {
    deviceInfo_.heading = "iOS Device Information";
    deviceInfo_.backupTime.clear();
  } else {
    deviceInfo_.heading.clear();
    copyPresent(deviceInfo_.backupTime, MzIOSDeviceController::listedBackupTime(*currentBackup_));
  }
  view().setDeviceInfo(deviceInfo_);
}

// ---- Progress ----

void MzResultViewController::setProgress(std::int32_t value) {
  progressFraction_ = std::clamp(value / 100.0, 0.0, 1.0);
  // The manifest step reports once per file, mostly the same value as before.
  if (value != progressTextValue_) {
    progressText_ = std::to_string(value) + "%";
    progressTextValue_ = value;
  }
  view().setProgress(progressFraction_, progressText_);
}

void MzResultViewController::refreshCountLabels() {
  auto texts = [](std::int32_t photo, std::int32_t contacts, std::int32_t messages,
                  std::int32_t notes, std::int32_t calls) {
    CountLabelTexts t;
    t.photoVideo = "Photo&Video:  " + std::to_string(photo);
    t.contacts = "Contacts:  " + std::to_string(contacts);
    t.messages = "Messages:  " + std::to_string(messages);
    t.notes = "Notes:  " + std::to_string(notes);
    t.callHistory = "Call History:  " + std::to_string(calls);
    return t;
  };
  // The texts are made anew only when a count changed: the manifest step refreshes them once
  // per file.
  const std::array<std::int32_t, 9> counts = {photovideoNum, contactNum, messageNum,
                                              noteNum,       callNum,    delContactNum,
                                              delMessageNum, delNoteNum, delCallNum};
  if (counts != labelledCounts_) {
    countLabels_.live = texts(photovideoNum, contactNum, messageNum, noteNum, callNum);
    // No deleted media are carved, so their label always reads 0.
    countLabels_.deleted = texts(0, delContactNum, delMessageNum, delNoteNum, delCallNum);
    labelledCounts_ = counts;
  }
  view().setCountLabels(countLabels_);
}

void MzResultViewController::ScanProgressInfomationHandle(const std::any& object) {
  const auto* value = std::any_cast<std::int32_t>(&object);
  if (value == nullptr) return;
  std::int32_t v = *value;
  performOnMainThreadAndWait([this, v] {
    setProgress(v);
    refreshCountLabels();
  });
}

void MzResultViewController::ScanAdancedprogressHandle(const std::any& object) {
  const auto* value = std::any_cast<std::int32_t>(&object);
  std::int32_t v = value != nullptr ? *value : 0;
  performOnMainThreadAndWait([this, v] { setProgress(v); });
}

// ---- The scan's life ----

void MzResultViewController::prepareForScan() {
  bScanFinished = false;
  controls_.homeEnabled = false;
  controls_.recoverEnabled = false;
  controls_.categoriesEnabled = false;
  controls_.browserEnabled = false;
  controls_.socialLinksEnabled = false;
  controls_.backupMenuEnabled = false;
  controls_.progressViewShown = true;
  // The advanced photo scan reads the connected device: offered for its backup only.
  controls_.advancedScanHidden = !deviceMode_;
  controls_.advancedScanEnabled = true;
  pushControls();
  setProgress(0);
  refreshCountLabels();
}

void MzResultViewController::ScanThreadFinish() {
  performOnMainThreadAndWait([this] { ScanFinishOnMainThread(); });
}

void MzResultViewController::ScanFinishOnMainThread() {
  bScanFinished = true;
  setProgress(0);
  controls_.progressViewShown = false;
  controls_.selectAllShown = true;
  controls_.deletedOnlyShown = true;
  controls_.homeEnabled = true;
  controls_.categoriesEnabled = true;
  controls_.browserEnabled = true;
  controls_.socialLinksEnabled = true;
  controls_.backupMenuEnabled = true;
  for (std::int32_t* counter :
       {&photovideoNum, &contactNum, &messageNum, &noteNum, &callNum, &bookMarkNum, &calenderNum,
        &facetwitterNum, &delPhotovideoNum, &delContactNum, &delMessageNum, &delNoteNum,
        &delCallNum, &delBookMarkNum, &delCalenderNum, &delfacetwitterNum}) {
    *counter = 0;
  }
  updateSelectionCount();  // the recover button follows the ticks, and pushes the controls
  actPhoto();
}

void MzResultViewController::PhotoAdancedScan() {
  if (!bScanFinished || !advancedPhotoScan) return;
  if (advancedScanThread_.joinable()) advancedScanThread_.join();  // the last one has ended
  controls_.advancedProgressShown = true;
  controls_.advancedScanEnabled = false;
  controls_.photoTabHidden = true;
  controls_.contactTabHidden = true;
  controls_.noteTabHidden = true;
  bScanFinished = false;
  updateSelectionCount();
  advancedScanRunning_.store(true);
  advancedScanThread_ = std::thread([this] {
    advancedPhotoScan();
    advancedScanRunning_.store(false);
  });
}

void MzResultViewController::ScanAdancedFinishedHandle(const std::any&) {
  performOnMainThreadAndWait([this] {
    controls_.advancedProgressShown = false;
    controls_.photoTabHidden = false;
    controls_.advancedScanEnabled = true;
    controls_.advancedScanHidden = true;
    // Marked finished before the category opens, which reads the lists.
    bScanFinished = true;
    updateSelectionCount();
    actPhoto();
  });
}

// ---- Leaving these results ----

void MzResultViewController::releaseUIMemory() {
  history_.clear();
  photoAndVideoArray.clear();
  appPhotoAndVideoArray.clear();
  contactArray.clear();
  messageArray.clear();
  messageTreeArray.clear();
  callHistoryArray.clear();
  noteArray.clear();
  bookMarkArray.clear();
  calenderArray.clear();
  faceTwitterArray.clear();
  searchArray.clear();
  setShownRows({});
  if (tree_ != nullptr) tree_->releaseTree();
}

void MzResultViewController::releaseResults() {
  releaseUIMemory();
  selectedFilesNum = 0;
  recovredFilesNum = 0;
  BackUpFilesNum = 0;
  deleteeFilesNum = 0;
  updateSelectionCount();
}

void MzResultViewController::actSelectBackUpBtn(std::shared_ptr<MzIOSDeviceNode> chosen) {
  if (chosen == nullptr || !bScanFinished) return;
  bool same =
      chosen == currentBackup_ ||
      (currentBackup_ != nullptr && chosen->backUpFilePath == currentBackup_->backUpFilePath);
  if (same) return;
  releaseResults();
  setCurrentBackup(chosen);
  prepareForScan();
  if (startScan) startScan(chosen);
}

void MzResultViewController::actHome() {
  if (!bScanFinished) return;
  int answer = view().askQuestion(localizedString(kGoHomeQuestion),
                                  {localizedString(" Back "), localizedString("Cancel")});
  if (answer != 0) return;
  releaseResults();
  if (showEntryView) showEntryView();
}
