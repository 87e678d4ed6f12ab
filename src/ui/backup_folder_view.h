// The backup-folder entry view: the backups of the backup root as a table (icon, name,
// model, serial number, OS version, backup time, size, folder), a button that opens the
// folder chooser, and the scan button's enabled state. It draws what BackupListController
// tells it (BackupListView) and hands the user's choices back to it.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>
#include <memory>
#include <vector>

#include "catalogue/backup_list_controller.h"

class QLabel;
class QPushButton;
class QTableView;

// The catalogue's records as table rows; a model over the list, no widget per row.
class BackupListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Icon, Name, Model, Serial, Version, BackupTime, Size, Folder, ColumnCount };

  using QAbstractTableModel::QAbstractTableModel;
  void setRows(std::vector<std::shared_ptr<MzIOSDeviceNode>> rows);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<std::shared_ptr<MzIOSDeviceNode>> rows_;
};

class BackupFolderView : public QWidget, public BackupListView {
  Q_OBJECT

 public:
  explicit BackupFolderView(BackupListController& controller, QWidget* parent = nullptr);

  // The window's scan button, whose enabled state this view sets.
  void setScanButton(QWidget* button) { scanButton_ = button; }
  QTableView* table() const { return table_; }

  // BackupListView
  void reloadRows(const std::vector<std::shared_ptr<MzIOSDeviceNode>>& rows) override;
  void selectRow(std::optional<std::size_t> row) override;
  void setScanButtonEnabled(bool enabled) override;
  std::optional<std::string> chooseFolder(const std::string& prompt) override;
  int showAlert(const std::string& message, const std::vector<std::string>& buttons) override;

 signals:
  // A row was opened (double click or Enter): the window starts its scan.
  void scanRequested();

 private:
  BackupListController& controller_;
  BackupListModel* model_;
  QTableView* table_;
  QLabel* emptyNote_;
  QPushButton* chooseButton_;
  QWidget* scanButton_ = nullptr;
  bool selecting_ = false;  // a selection the controller made, not the user
};
