#include "ui/backup_folder_view.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QVBoxLayout>

#include "base/localization.h"

namespace {

QString text(const std::string& s) { return QString::fromStdString(s); }

// "2013-05-01 12:00" stays; a byte count becomes "1.2 GB".
QString sizeText(const std::string& bytes) {
  bool ok = false;
  const qulonglong n = QString::fromStdString(bytes).toULongLong(&ok);
  if (!ok) return text(bytes);
  return QLocale().formattedDataSize(static_cast<qint64>(n), 1, QLocale::DataSizeSIFormat);
}

}  // namespace

void BackupListModel::setRows(std::vector<std::shared_ptr<MzIOSDeviceNode>> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

int BackupListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int BackupListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant BackupListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const MzIOSDeviceNode& node = *rows_[static_cast<std::size_t>(index.row())];
  if (role == Qt::DecorationRole && index.column() == Icon) {
    const bool pad = node.deviceImage && *node.deviceImage == "ipad";
    return QApplication::style()->standardIcon(pad ? QStyle::SP_ComputerIcon
                                                   : QStyle::SP_DriveHDIcon);
  }
  if (role == Qt::ToolTipRole) return text(node.backUpFilePath);
  if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole) return {};
  switch (index.column()) {
    case Icon:
      return role == Qt::AccessibleTextRole ? text(node.deviceImage.value_or("iphone"))
                                            : QVariant();
    case Name:
      return text(node.strDeviceName);
    case Model:
      return text(node.strDeviceType);
    case Serial:
      return text(node.strDeviceSerial);
    case Version:
      return text(node.strIOSVersion);
    case BackupTime:
      return text(MzIOSDeviceController::listedBackupTime(node));
    case Size:
      return sizeText(MzIOSDeviceController::listedSize(node));
    case Folder:
      return text(node.backUpFilePath);
    default:
      return {};
  }
}

QVariant BackupListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case Icon:
      return QString();
    case Name:
      return tr("Name");
    case Model:
      return tr("Model");
    case Serial:
      return tr("Serial Number");
    case Version:
      return tr("iOS Version");
    case BackupTime:
      return tr("Backup Time");
    case Size:
      return tr("Size");
    case Folder:
      return tr("Folder");
    default:
      return {};
  }
}

BackupFolderView::BackupFolderView(BackupListController& controller, QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      model_(new BackupListModel(this)),
      table_(new QTableView(this)),
      emptyNote_(new QLabel(this)),
      chooseButton_(new QPushButton(tr("Select Backup Folder\u2026"), this)) {
  setAccessibleName(tr("Backups on this computer"));
  auto* heading = new QLabel(tr("Choose a backup of your iPhone or iPad to scan:"), this);
  heading->setWordWrap(true);
  table_->setModel(model_);
  table_->setAccessibleName(tr("Backup list"));
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setAlternatingRowColors(true);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->horizontalHeader()->setSectionResizeMode(BackupListModel::Icon, QHeaderView::Fixed);
  table_->setColumnWidth(BackupListModel::Icon, 28);
  table_->setColumnWidth(BackupListModel::Name, 150);
  table_->setColumnWidth(BackupListModel::Model, 120);
  table_->setColumnWidth(BackupListModel::Serial, 120);
  table_->setColumnWidth(BackupListModel::Version, 80);
  table_->setColumnWidth(BackupListModel::BackupTime, 130);
  table_->setColumnWidth(BackupListModel::Size, 80);
  emptyNote_->setText(
      tr("No backup was found in the backup folder. Choose a backup folder "
         "by hand, or make a backup of your device first."));
  emptyNote_->setWordWrap(true);
  emptyNote_->hide();
  chooseButton_->setAccessibleName(tr("Select a backup folder by hand"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(heading);
  layout->addWidget(table_, 1);
  layout->addWidget(emptyNote_);
  auto* row = new QHBoxLayout;
  row->addWidget(chooseButton_);
  row->addStretch(1);
  layout->addLayout(row);

  connect(chooseButton_, &QPushButton::clicked, this, [this] { controller_.SelectBackUpAction(); });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (selecting_) return;
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    controller_.tableViewSelectionDidChange(
        rows.isEmpty() ? std::nullopt : std::optional<std::size_t>(rows.first().row()));
  });
  connect(table_, &QTableView::doubleClicked, this, [this] { emit scanRequested(); });
  connect(table_, &QTableView::activated, this, [this] { emit scanRequested(); });
}

void BackupFolderView::reloadRows(const std::vector<std::shared_ptr<MzIOSDeviceNode>>& rows) {
  selecting_ = true;
  model_->setRows(rows);
  selecting_ = false;
  emptyNote_->setVisible(rows.empty());
}

void BackupFolderView::selectRow(std::optional<std::size_t> row) {
  selecting_ = true;
  if (row && static_cast<int>(*row) < model_->rowCount()) {
    table_->selectRow(static_cast<int>(*row));
  } else {
    table_->clearSelection();
  }
  selecting_ = false;
}

void BackupFolderView::setScanButtonEnabled(bool enabled) {
  if (scanButton_ != nullptr) scanButton_->setEnabled(enabled);
}

std::optional<std::string> BackupFolderView::chooseFolder(const std::string& prompt) {
  const QString folder = QFileDialog::getExistingDirectory(this, QString::fromStdString(prompt));
  if (folder.isEmpty()) return std::nullopt;
  return folder.toStdString();
}

int BackupFolderView::showAlert(const std::string& message,
                                const std::vector<std::string>& buttons) {
  QMessageBox box(QMessageBox::Information, tr("Retrievo"), QString::fromStdString(message),
                  QMessageBox::NoButton, this);
  std::vector<QAbstractButton*> added;
  for (const std::string& b : buttons) {
    added.push_back(box.addButton(QString::fromStdString(b), QMessageBox::AcceptRole));
  }
  if (added.empty()) added.push_back(box.addButton(QMessageBox::Ok));
  box.exec();
  for (std::size_t i = 0; i < added.size(); ++i) {
    if (box.clickedButton() == added[i]) return static_cast<int>(i);
  }
  return 0;
}
