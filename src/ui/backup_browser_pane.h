// The backup browser: every file of the backup under its domain and folders, as a tree with
// three-state ticks beside a table of the highlighted folder's files. It draws what
// MzTreeController tells it (BackupBrowserView) and hands ticks and highlights back to it.
// The tree is rebuilt at most once per turn of the event loop, however many folders a scan
// adds meanwhile.
#pragma once

#include <QAbstractItemModel>
#include <QAbstractTableModel>
#include <QWidget>
#include <memory>
#include <vector>

#include "results/tree_controller.h"

class QTableView;
class QTreeView;

// The folders of the tree as a Qt model; the nodes are the controller's own.
class BackupTreeModel : public QAbstractItemModel {
  Q_OBJECT

 public:
  explicit BackupTreeModel(MzTreeController& controller, QObject* parent = nullptr)
      : QAbstractItemModel(parent), controller_(controller) {}
  void reload() {
    beginResetModel();
    endResetModel();
  }
  void redrawTicks();
  MzTreeDirNode* nodeOf(const QModelIndex& index) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  const std::vector<std::shared_ptr<MzTreeDirNode>>& childrenOf(const MzTreeDirNode* node) const;
  int rowOf(const MzTreeDirNode* node) const;

  MzTreeController& controller_;
};

// The files of the highlighted folder.
class BackupFileModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit BackupFileModel(MzTreeController& controller, QObject* parent = nullptr)
      : QAbstractTableModel(parent), controller_(controller) {}
  void setFiles(std::vector<std::shared_ptr<MzTreeFileNode>> files);
  void redrawTicks();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  MzTreeController& controller_;
  std::vector<std::shared_ptr<MzTreeFileNode>> files_;
};

class BackupBrowserPane : public QWidget, public BackupBrowserView {
  Q_OBJECT

 public:
  explicit BackupBrowserPane(MzTreeController& controller, QWidget* parent = nullptr);

  QTreeView* tree() const { return tree_; }
  QTableView* files() const { return files_; }
  BackupTreeModel* treeModel() const { return treeModel_; }

  // BackupBrowserView
  void reloadTree() override;
  void expandFirstRow() override;
  void redrawTicks() override;
  void setFileRows(const std::vector<std::shared_ptr<MzTreeFileNode>>& files) override;

 private:
  MzTreeController& controller_;
  BackupTreeModel* treeModel_;
  BackupFileModel* fileModel_;
  QTreeView* tree_;
  QTableView* files_;
  bool reloadQueued_ = false;
  bool expandQueued_ = false;
};
