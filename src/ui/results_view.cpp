#include "ui/results_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStackedWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QTimer>
#include <QVBoxLayout>

#include "results/hex_preview.h"
#include "results/result_view_controller.h"
#include "results/search_filter.h"
#include "ui/record_preview.h"
#include "ui/result_rows_model.h"
#include "ui/thumbnail_cache.h"

const std::vector<CategoryEntry>& resultCategoryEntries() {
  static const std::vector<CategoryEntry> kEntries = {
      {ResultCategory::Photo, QT_TRANSLATE_NOOP("ResultsView", "Photos & Videos")},
      {ResultCategory::AppPhoto, QT_TRANSLATE_NOOP("ResultsView", "App Photos & Videos")},
      {ResultCategory::Contact, QT_TRANSLATE_NOOP("ResultsView", "Contacts")},
      {ResultCategory::Message, QT_TRANSLATE_NOOP("ResultsView", "Messages")},
      {ResultCategory::Note, QT_TRANSLATE_NOOP("ResultsView", "Notes")},
      {ResultCategory::CallHistory, QT_TRANSLATE_NOOP("ResultsView", "Call History")},
      {ResultCategory::BookMark, QT_TRANSLATE_NOOP("ResultsView", "Bookmarks & History")},
      {ResultCategory::Calender, QT_TRANSLATE_NOOP("ResultsView", "Calendar")},
      {ResultCategory::FaceTwitter, QT_TRANSLATE_NOOP("ResultsView", "Social Media")},
      {ResultCategory::BackUpBrowser, QT_TRANSLATE_NOOP("ResultsView", "Backup Browser")},
  };
  return kEntries;
}

ResultsView::ResultsView(MzResultViewController& controller, QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      back_(new QPushButton(tr("\u2190 Back"), this)),
      backupMenu_(new QComboBox(this)),
      device_(new QLabel(this)),
      categories_(new QListWidget(this)),
      table_(new QTableView(this)),
      grid_(new QListView(this)),
      itemViews_(new QStackedWidget(this)),
      thumbnails_(new ThumbnailCache(this)),
      model_(new ResultRowsModel(controller, this)),
      progressPane_(new QWidget(this)),
      progress_(new QProgressBar(progressPane_)),
      counts_(new QLabel(progressPane_)),
      selectAll_(new QCheckBox(tr("Select all"), this)),
      deletedOnly_(new QCheckBox(tr("Only show deleted items"), this)),
      selection_(new QLabel(this)),
      recover_(new QPushButton(tr("Recover\u2026"), this)),
      advancedScan_(new QPushButton(tr("Advanced Photo Scan"), this)),
      search_(new QLineEdit(this)),
      preview_(new QTextBrowser(this)),
      searchFilter_(std::make_unique<MzSearchFilter>(controller)),
      hex_(std::make_unique<MzHexPreview>(controller)),
      hexButton_(new QPushButton(tr("Database Bytes"), this)),
      exportButton_(new QPushButton(tr("Export Bytes\u2026"), this)),
      hexView_(new QPlainTextEdit(this)) {
  labelTimer_ = new QTimer(this);
  labelTimer_->setSingleShot(true);
  labelTimer_->setInterval(100);
  connect(labelTimer_, &QTimer::timeout, this, [this] { showLabels(); });
  hexButton_->setCheckable(true);
  hexButton_->setAccessibleName(tr("Show the bytes of the category's database"));
  hexButton_->setToolTip(tr("Show the raw bytes of the database this category comes from"));
  exportButton_->setAccessibleName(tr("Export the bytes shown to a text file"));
  exportButton_->hide();
  hexView_->setReadOnly(true);
  hexView_->setAccessibleName(tr("Bytes of the database"));
  hexView_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  search_->setPlaceholderText(tr("Search (Ctrl+F)"));
  search_->setAccessibleName(tr("Search the items of the category"));
  search_->setClearButtonEnabled(true);
  search_->setMaximumWidth(280);
  preview_->setAccessibleName(tr("Preview"));
  preview_->setOpenLinks(false);
  preview_->setMinimumWidth(300);
  setAccessibleName(tr("Results"));
  back_->setAccessibleName(tr("Back to the start"));
  device_->setTextFormat(Qt::PlainText);
  backupMenu_->setAccessibleName(tr("Show another backup"));
  backupMenu_->setToolTip(tr("Scan another backup of the list"));
  backupMenu_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  categories_->setAccessibleName(tr("Categories"));
  for (const CategoryEntry& entry : resultCategoryEntries()) {
    categories_->addItem(tr(entry.name));
  }
  categories_->setMinimumWidth(220);
  categories_->setSpacing(3);
  table_->setModel(model_);
  table_->setAccessibleName(tr("Items of the category"));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(22);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setSectionsClickable(true);
  table_->setAlternatingRowColors(true);
  table_->setWordWrap(false);
  model_->setThumbnails(thumbnails_);
  grid_->setModel(model_);
  grid_->setSelectionModel(table_->selectionModel());
  grid_->setViewMode(QListView::IconMode);
  grid_->setIconSize(QSize(ThumbnailCache::kSize, ThumbnailCache::kSize));
  grid_->setGridSize(QSize(ThumbnailCache::kSize + 28, ThumbnailCache::kSize + 44));
  grid_->setResizeMode(QListView::Adjust);
  grid_->setMovement(QListView::Static);
  // Every cell has the grid's size: the layout of 50,000 cells needs no size of each.
  grid_->setUniformItemSizes(true);
  grid_->setLayoutMode(QListView::Batched);
  grid_->setBatchSize(2000);
  grid_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid_->setWordWrap(true);
  grid_->setAccessibleName(tr("Photos and videos"));
  itemViews_->addWidget(table_);
  itemViews_->addWidget(grid_);
  itemViews_->addWidget(hexView_);
  progress_->setAccessibleName(tr("Scan progress"));
  counts_->setWordWrap(true);
  selectAll_->setAccessibleName(tr("Select every item of the category"));
  deletedOnly_->setAccessibleName(tr("Only show deleted items"));
  selection_->setAccessibleName(tr("Selection"));
  recover_->setAccessibleName(tr("Recover the ticked items"));
  recover_->setToolTip(tr("Write the ticked items into a folder (Ctrl+R)"));
  auto* recoverKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
  connect(recoverKey, &QShortcut::activated, this, [this] {
    if (recover_->isEnabled()) emit recoverRequested();
  });
  recover_->setEnabled(false);
  advancedScan_->setAccessibleName(tr("Advanced photo scan"));
  advancedScan_->setToolTip(
      tr("Copy every photo and video of the camera roll, photo sync and photo stream folders "
         "straight from the connected device"));
  advancedScan_->hide();

  auto* top = new QHBoxLayout;
  top->addWidget(back_);
  top->addWidget(backupMenu_);
  top->addWidget(device_, 1);
  top->addWidget(advancedScan_);
  top->addWidget(search_);
  auto* progressLayout = new QVBoxLayout(progressPane_);
  progressLayout->setContentsMargins(0, 0, 0, 0);
  progressLayout->addWidget(progress_);
  progressLayout->addWidget(counts_);
  auto* splitter = new QSplitter(this);
  splitter->addWidget(categories_);
  splitter->addWidget(itemViews_);
  splitter->addWidget(preview_);
  splitter->setStretchFactor(1, 1);
  splitter->setStretchFactor(2, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(selectAll_);
  bottom->addWidget(deletedOnly_);
  bottom->addWidget(hexButton_);
  bottom->addWidget(exportButton_);
  bottom->addStretch(1);
  bottom->addWidget(selection_);
  bottom->addWidget(recover_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(splitter, 1);
  layout->addWidget(progressPane_);
  layout->addLayout(bottom);

  // Tab runs left to right, top to bottom.
  QWidget* order[] = {back_,    backupMenu_, search_,      categories_, table_,        grid_,
                      preview_, selectAll_,  deletedOnly_, hexButton_,  exportButton_, recover_};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  connect(back_, &QPushButton::clicked, this, [this] { controller_.actHome(); });
  connect(backupMenu_, &QComboBox::activated, this, [this](int index) {
    if (!updating_) emit backupChosen(index);
  });
  connect(categories_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (!updating_) categoryChosen(row);
  });
  connect(table_->horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
    const QString key = model_->columnKey(section);
    if (!key.isEmpty()) controller_.tableViewDidClickTableColumn(key.toStdString());
  });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (updating_) return;
    controller_.tableViewSelectionDidChange(highlightedRows());
    showPreview();
  });
  connect(search_, &QLineEdit::textChanged, this,
          [this](const QString& text) { searchFilter_->controlTextDidChange(text.toStdString()); });
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    search_->setFocus();
    search_->selectAll();
  });
  connect(advancedScan_, &QPushButton::clicked, this, [this] { controller_.PhotoAdancedScan(); });
  connect(recover_, &QPushButton::clicked, this, [this] {
    if (recover_->isEnabled()) emit recoverRequested();
  });
  auto* tickAll = new QShortcut(QKeySequence::SelectAll, this);
  connect(tickAll, &QShortcut::activated, this, [this] {
    if (!selectAll_->isVisible()) return;
    selectAll_->setChecked(true);
    controller_.ClickSelectAll(1);
  });
  for (QWidget* view : {static_cast<QWidget*>(table_), static_cast<QWidget*>(grid_)}) {
    auto* space =
        new QShortcut(QKeySequence(Qt::Key_Space), view, nullptr, nullptr, Qt::WidgetShortcut);
    connect(space, &QShortcut::activated, this, [this] { toggleHighlightedTicks(); });
  }
  connect(hexButton_, &QPushButton::clicked, this, [this](bool on) {
    if (on) {
      hex_->ActHexPreviewAction();
    } else {
      hex_->ActNormAction();
    }
    hexButton_->setChecked(hex_->bHexPreview);
  });
  connect(exportButton_, &QPushButton::clicked, this, [this] { hex_->actExportImage(); });
  connect(selectAll_, &QCheckBox::clicked, this,
          [this](bool on) { controller_.ClickSelectAll(on ? 1 : 0); });
  connect(deletedOnly_, &QCheckBox::clicked, this, [this](bool on) { controller_.actCheck(on); });
}

ResultsView::~ResultsView() {
  // Both workers hand their results to the main thread and wait for it.
  searchFilter_->bSearchStop = true;
  while (searchFilter_->bSearchThreadStart || hex_->workRunning()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  searchFilter_.reset();
  hex_.reset();
}

void ResultsView::setHexPreviewShown(bool shown) {
  if (shown) {
    if (itemViews_->currentWidget() != hexView_) beforeHex_ = itemViews_->currentWidget();
    itemViews_->setCurrentWidget(hexView_);
  } else if (itemViews_->currentWidget() == hexView_) {
    itemViews_->setCurrentWidget(beforeHex_ != nullptr ? beforeHex_ : table_);
  }
  exportButton_->setVisible(shown);
  hexButton_->setChecked(shown);
}

void ResultsView::setHexPreviewText(const std::string& text) {
  hexView_->setPlainText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}

std::vector<std::size_t> ResultsView::highlightedRows() const {
  std::vector<std::size_t> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedIndexes()) {
    rows.push_back(static_cast<std::size_t>(index.row()));
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

void ResultsView::showPreview() {
  const std::vector<std::size_t> rows = highlightedRows();
  if (rows.empty() || rows.front() >= model_->rows().size()) {
    preview_->clear();
    return;
  }
  const auto& backup = controller_.currentBackup();
  preview_->setHtml(recordPreviewHtml(
      model_->rows()[rows.front()], backup ? backup->backUpFilePath : "", &controller_.history()));
}

void ResultsView::setBackupChoices(const QStringList& names, int current) {
  updating_ = true;
  backupMenu_->clear();
  backupMenu_->addItems(names);
  backupMenu_->setCurrentIndex(current);
  backupMenu_->setVisible(names.size() > 1);
  updating_ = false;
}

void ResultsView::setBrowserPane(QWidget* pane) {
  browserPane_ = pane;
  itemViews_->addWidget(pane);
}

void ResultsView::toggleHighlightedTicks() {
  const std::vector<std::size_t> rows = highlightedRows();
  if (rows.empty() || rows.front() >= model_->rows().size()) return;
  const bool on = !isSelected(model_->rows()[rows.front()]);
  model_->setData(model_->index(static_cast<int>(rows.front()), 0),
                  on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
}

void ResultsView::categoryChosen(int row) {
  const auto& entries = resultCategoryEntries();
  if (row < 0 || row >= static_cast<int>(entries.size())) return;
  if (hex_->bHexPreview) hex_->ActNormAction();
  controller_.openCategory(entries[static_cast<std::size_t>(row)].category);
}

void ResultsView::refreshCategoryCounts() {
  const auto& entries = resultCategoryEntries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].category == ResultCategory::BackUpBrowser) continue;  // files, not records
    const auto counts = controller_.countsFor(entries[i].category);
    QString text = tr(entries[i].name) + QString("  (%1").arg(counts.live + counts.deleted);
    if (counts.deleted > 0) text += tr(", %1 deleted").arg(counts.deleted);
    text += ")";
    categories_->item(static_cast<int>(i))->setText(text);
  }
}

void ResultsView::setControls(const ResultControls& controls) {
  if (labelTimer_->isActive()) {  // the figures are drawn before the view changes state
    labelTimer_->stop();
    showLabels();
  }
  updating_ = true;
  back_->setEnabled(controls.homeEnabled);
  backupMenu_->setEnabled(controls.backupMenuEnabled);
  categories_->setEnabled(controls.categoriesEnabled);
  progressPane_->setVisible(controls.progressViewShown || controls.advancedProgressShown);
  advancedScan_->setVisible(!controls.advancedScanHidden);
  advancedScan_->setEnabled(controls.advancedScanEnabled && controls.homeEnabled);
  selectAll_->setVisible(controls.selectAllShown);
  selectAll_->setChecked(controls.selectAllOn);
  deletedOnly_->setVisible(controls.deletedOnlyShown);
  deletedOnly_->setChecked(controls.deletedOnlyOn);
  selection_->setText(QString::fromStdString(controls.selectionLabel));
  selection_->setVisible(!controls.selectionLabelHidden);
  recover_->setEnabled(controls.recoverEnabled);
  updating_ = false;
  if (controls.categoriesEnabled) refreshCategoryCounts();
}

void ResultsView::setProgress(double fraction, const std::string& text) {
  pendingFraction_ = fraction;
  pendingProgressText_ = QString::fromStdString(text);
  scheduleLabels();
}

void ResultsView::setCountLabels(const CountLabels& labels) {
  const auto line = [](const CountLabelTexts& t) {
    return QStringList{QString::fromStdString(t.photoVideo), QString::fromStdString(t.contacts),
                       QString::fromStdString(t.messages), QString::fromStdString(t.notes),
                       QString::fromStdString(t.callHistory)}
        .join("    ");
  };
  pendingCounts_ = tr("Found: %1\nDeleted: %2").arg(line(labels.live), line(labels.deleted));
  scheduleLabels();
}

void ResultsView::scheduleLabels() {
  // A scan reports its progress and counts with every record it files, tens of thousands a
  // second; laying out the labels each time cost more than the scan. They show the newest
  // figures ten times a second instead.
  if (!labelTimer_->isActive()) labelTimer_->start();
}

void ResultsView::showLabels() {
  progress_->setRange(0, 1000);
  progress_->setValue(static_cast<int>(pendingFraction_ * 1000));
  progress_->setFormat(pendingProgressText_);
  if (counts_->text() != pendingCounts_) counts_->setText(pendingCounts_);
}

void ResultsView::setDeviceInfo(const DeviceInfoLabels& labels) {
  QStringList parts;
  for (const std::string& s : {labels.heading, labels.deviceName, labels.deviceType,
                               labels.iosVersion, labels.serialNumber, labels.backupTime}) {
    if (!s.empty()) parts << QString::fromStdString(s);
  }
  device_->setText(parts.join("  \u00B7  "));
}

void ResultsView::showCategory(ResultCategory category) {
  const auto& entries = resultCategoryEntries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].category == category) {
      updating_ = true;
      categories_->setCurrentRow(static_cast<int>(i));
      updating_ = false;
    }
  }
}

void ResultsView::setTableRows(ResultCategory category, const ResultRows& rows) {
  const bool media = category == ResultCategory::Photo || category == ResultCategory::AppPhoto;
  if (media && controller_.currentBackup() &&
      controller_.currentBackup()->backUpFilePath != thumbnailFolder_) {
    thumbnailFolder_ = controller_.currentBackup()->backUpFilePath;
    thumbnails_->setBackupFolder(thumbnailFolder_);
  }
  QWidget* shown = media ? static_cast<QWidget*>(grid_) : table_;
  if (category == ResultCategory::BackUpBrowser && browserPane_ != nullptr) shown = browserPane_;
  itemViews_->setCurrentWidget(shown);
  preview_->setVisible(shown != browserPane_);  // the browser's file table is its own preview
  updating_ = true;
  model_->setRows(category, rows);
  // The grid shows the name column, which also carries the tick and the thumbnail; it can be
  // chosen only once the model has it.
  if (media) grid_->setModelColumn(1);
  table_->setColumnWidth(0, 28);
  for (int c = 1; c + 1 < model_->columnCount(); ++c) table_->setColumnWidth(c, 180);
  updating_ = false;
}

void ResultsView::setHighlightedRows(const std::vector<std::size_t>& rows) {
  updating_ = true;
  QItemSelection selection;
  for (std::size_t row : rows) {
    const QModelIndex index = model_->index(static_cast<int>(row), 0);
    if (index.isValid()) selection.select(index, index);
  }
  table_->selectionModel()->select(selection,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  updating_ = false;
  showPreview();
}

void ResultsView::redrawTicks() { model_->redrawTicks(); }

void ResultsView::clearChatPreview() { preview_->clear(); }

int ResultsView::askQuestion(const std::string& message, const std::vector<std::string>& buttons) {
  QStringList labels;
  for (const std::string& b : buttons) labels << QString::fromStdString(b);
  if (askHook) return askHook(QString::fromStdString(message), labels);
  QMessageBox box(QMessageBox::Question, tr("Retrievo"), QString::fromStdString(message),
                  QMessageBox::NoButton, this);
  QList<QAbstractButton*> added;
  for (int i = 0; i < labels.size(); ++i) {
    added << box.addButton(labels[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
  }
  box.exec();
  const int pressed = static_cast<int>(added.indexOf(box.clickedButton()));
  return pressed < 0 ? static_cast<int>(labels.size()) - 1 : pressed;
}
