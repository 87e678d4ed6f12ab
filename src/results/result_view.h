// What the results view shows, and the interface through which the results controller
// tells it. The controller holds every piece of this state; the view only draws it. The Qt
// results view implements ResultView; the tests implement it with a recording fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/tree_dir_node.h"
#include "results/result_record.h"

// Rows of deleted records (and deleted conversations) are drawn in this colour, calibrated
// RGB, opaque; every table row uses this font.
inline constexpr double kDeletedRowRed = 0.851;
inline constexpr double kDeletedRowGreen = 0.318;
inline constexpr double kDeletedRowBlue = 0.118;
inline constexpr const char* kResultRowFont = "Lucida Grande";
inline constexpr int kResultRowFontSize = 11;

// Enabled, hidden and on/off states of the results view's controls.
struct ResultControls {
  bool homeEnabled = false;
  bool recoverEnabled = false;
  bool categoriesEnabled = false;  // every category button but the app-media one
  bool browserEnabled = false;     // the backup-browser button
  bool socialLinksEnabled = false;
  bool backupMenuEnabled = false;  // the pop-up that switches to another backup

  bool progressViewShown = false;      // the progress view of a backup scan
  bool advancedProgressShown = false;  // the bar and its text of the advanced photo scan

  bool selectAllShown = false;
  bool selectAllOn = false;  // the tick-all button's state for the current category
  bool deletedOnlyShown = false;
  bool deletedOnlyOn = false;  // image "turn_on.png" when on, "turn_off.png" when off
  bool previewLabelsHidden = false;

  bool advancedScanEnabled = true;
  bool advancedScanHidden = false;
  bool photoTabHidden = false;  // the three category tabs
  bool contactTabHidden = false;
  bool noteTabHidden = false;

  std::string selectionLabel;  // "You select %d files in the recovery results."
  bool selectionLabelHidden = true;

  bool operator==(const ResultControls&) const = default;
};

// The per-category counts of the progress view.
struct CountLabelTexts {
  std::string photoVideo;   // "Photo&Video:  %d"
  std::string contacts;     // "Contacts:  %d"
  std::string messages;     // "Messages:  %d"
  std::string notes;        // "Notes:  %d"
  std::string callHistory;  // "Call History:  %d"
  bool operator==(const CountLabelTexts&) const = default;
};

struct CountLabels {
  CountLabelTexts live;
  CountLabelTexts deleted;
  bool operator==(const CountLabels&) const = default;
};

// The information labels about the backup being shown.
struct DeviceInfoLabels {
  std::string deviceName;
  std::string serialNumber;
  std::string deviceType;
  std::string iosVersion;
  std::string backupTime;
  std::string heading;  // "iOS Device Information" for a device just backed up, else empty
  bool operator==(const DeviceInfoLabels&) const = default;
};

// The object of "RefreshNodeSelctedStatu": a thumbnail's tick box changed. `checkState`
// is the box's new state (1 = on) and `node` the record behind the thumbnail.
struct ThumbnailTick {
  std::shared_ptr<MzPhotoAndVideoNode> node;
  std::int32_t checkState = 0;
};

class ResultView {
 public:
  virtual ~ResultView() = default;

  // The enabled, hidden and on/off states changed.
  virtual void setControls(const ResultControls& controls) = 0;
  // The progress bar shows `fraction` (0 to 1) and the percentage text `text`.
  virtual void setProgress(double fraction, const std::string& text) = 0;
  virtual void setCountLabels(const CountLabels& labels) = 0;
  virtual void setDeviceInfo(const DeviceInfoLabels& labels) = 0;

  // Shows the view of `category` (tables, thumbnail grid, conversation list and preview,
  // or the backup-browser tree) in place of the others.
  virtual void showCategory(ResultCategory category) = 0;
  // The table (or thumbnail grid) of `category` now shows `rows`, in this order.
  virtual void setTableRows(ResultCategory category, const ResultRows& rows) = 0;
  // The highlighted rows of the current table, ascending (empty: none).
  virtual void setHighlightedRows(const std::vector<std::size_t>& rows) = 0;
  // Ticks of the rows shown (table rows or thumbnails) changed: draw them again.
  virtual void redrawTicks() = 0;

  // A modal question; returns the index of the pressed button.
  virtual int askQuestion(const std::string& message, const std::vector<std::string>& buttons) = 0;

  // The search filter emptied the conversation list: the chat preview shows nothing.
  virtual void clearChatPreview() {}
  // The hex preview: shown, it takes the place of every category view and its export
  // button is visible; hidden, both are gone again.
  virtual void setHexPreviewShown(bool /*shown*/) {}
  // The text the hex preview shows (one character per byte of a database file).
  virtual void setHexPreviewText(const std::string& /*text*/) {}
};

// The backup-browser tree as the results controller uses it; the tree unit implements it.
class BackupBrowserTree {
 public:
  virtual ~BackupBrowserTree() = default;
  // Adds one file-index record (its device path is not empty); called on the main thread.
  virtual void addTreeNode(const std::shared_ptr<MzTreeDirNode>& record) = 0;
  // The number of ticked files in the whole tree.
  virtual std::size_t getTreeSelectedItemNum() const = 0;
  // Empties the tree.
  virtual void releaseTree() = 0;
};
