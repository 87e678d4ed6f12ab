// The results view: the categories with their live and deleted counts on the left, the
// table of the chosen category in the middle, and below them the scan's progress while it
// runs, then the tick-all and deleted-only switches and the selection label. It draws what
// MzResultViewController tells it (ResultView) and hands every click back to it.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "results/result_view.h"

class MzResultViewController;
class MzHexPreview;
class MzSearchFilter;
class QPlainTextEdit;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListView;
class QStackedWidget;
class ThumbnailCache;
class QTextBrowser;
class QTimer;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableView;
class ResultRowsModel;

class ResultsView : public QWidget, public ResultView {
  Q_OBJECT

 public:
  explicit ResultsView(MzResultViewController& controller, QWidget* parent = nullptr);
  // Stops a running search first, the event loop turning: it waits on the main thread.
  ~ResultsView() override;

  // The window's questions (the way back); tests answer them instead of a user.
  std::function<int(const QString& message, const QStringList& buttons)> askHook;

  // Shows the live and deleted counts of every category again (after a scan).
  void refreshCategoryCounts();

  QListWidget* categoryList() const { return categories_; }
  QTableView* table() const { return table_; }
  QListView* grid() const { return grid_; }
  // The backups the pop-up offers (their names), and the one shown.
  void setBackupChoices(const QStringList& names, int current);
  QComboBox* backupMenu() const { return backupMenu_; }
  // The backup browser, shown for its category.
  void setBrowserPane(QWidget* pane);
  ThumbnailCache* thumbnails() const { return thumbnails_; }
  ResultRowsModel* model() const { return model_; }
  QCheckBox* deletedOnlySwitch() const { return deletedOnly_; }
  QCheckBox* selectAllSwitch() const { return selectAll_; }
  QLabel* selectionLabel() const { return selection_; }
  QPushButton* recoverButton() const { return recover_; }
  QPushButton* advancedScanButton() const { return advancedScan_; }
  QLineEdit* searchField() const { return search_; }
  QTextBrowser* preview() const { return preview_; }
  MzHexPreview& hexPreview() { return *hex_; }
  QPushButton* hexButton() const { return hexButton_; }
  QPushButton* exportButton() const { return exportButton_; }
  QPlainTextEdit* hexView() const { return hexView_; }

  // ResultView
  void setControls(const ResultControls& controls) override;
  void setProgress(double fraction, const std::string& text) override;
  void setCountLabels(const CountLabels& labels) override;
  void setDeviceInfo(const DeviceInfoLabels& labels) override;
  void showCategory(ResultCategory category) override;
  void setTableRows(ResultCategory category, const ResultRows& rows) override;
  void setHighlightedRows(const std::vector<std::size_t>& rows) override;
  void redrawTicks() override;
  void clearChatPreview() override;
  void setHexPreviewShown(bool shown) override;
  void setHexPreviewText(const std::string& text) override;
  int askQuestion(const std::string& message, const std::vector<std::string>& buttons) override;

 signals:
  // The recover button (or Ctrl+R) with at least one item ticked.
  void recoverRequested();
  // The user chose entry `index` of the backup pop-up.
  void backupChosen(int index);

 private:
  void categoryChosen(int row);
  void scheduleLabels();
  void showLabels();
  // Space: the highlighted rows take the opposite of the first one's tick.
  void toggleHighlightedTicks();
  // Shows the first highlighted row in the preview pane.
  void showPreview();
  // The highlighted rows of the table or grid, ascending.
  std::vector<std::size_t> highlightedRows() const;

  MzResultViewController& controller_;
  QPushButton* back_;
  QComboBox* backupMenu_;
  QLabel* device_;
  QListWidget* categories_;
  QTableView* table_;
  QListView* grid_;
  QStackedWidget* itemViews_;
  ThumbnailCache* thumbnails_;
  std::string thumbnailFolder_;
  QWidget* browserPane_ = nullptr;
  ResultRowsModel* model_;
  QWidget* progressPane_;
  QProgressBar* progress_;
  QLabel* counts_;
  QCheckBox* selectAll_;
  QCheckBox* deletedOnly_;
  QLabel* selection_;
  QPushButton* recover_;
  QPushButton* advancedScan_;
  QLineEdit* search_;
  QTextBrowser* preview_;
  std::unique_ptr<MzSearchFilter> searchFilter_;
  std::unique_ptr<MzHexPreview> hex_;
  QPushButton* hexButton_;
  QPushButton* exportButton_;
  QPlainTextEdit* hexView_;
  QWidget* beforeHex_ = nullptr;  // the view the preview took the place of
  bool updating_ = false;         // the view is drawing what the controller said
  QTimer* labelTimer_ = nullptr;  // draws the newest progress and counts
  double pendingFraction_ = 0;
  QString pendingProgressText_;
  QString pendingCounts_;
};

// The categories of the list, in their order, with their names as the list shows them.
struct CategoryEntry {
  ResultCategory category;
  const char* name;
};
const std::vector<CategoryEntry>& resultCategoryEntries();
