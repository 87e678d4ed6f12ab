#include "ui/backup_browser_pane.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

Qt::CheckState checkState(std::int32_t state) {
  return state == 1 ? Qt::Checked : state == 2 ? Qt::PartiallyChecked : Qt::Unchecked;
}

}  // namespace

// ---- The tree ----

const std::vector<std::shared_ptr<MzTreeDirNode>>& BackupTreeModel::childrenOf(
    const MzTreeDirNode* node) const {
  return node == nullptr ? controller_.roots() : node->children;
}

int BackupTreeModel::rowOf(const MzTreeDirNode* node) const {
  const auto& siblings = childrenOf(node->parent);
  // Siblings stay sorted by their names.
  auto it = std::lower_bound(siblings.begin(), siblings.end(), node->fileName,
                             [](const std::shared_ptr<MzTreeDirNode>& n, const std::string& name) {
                               return compareTreeNames(n->fileName, name) < 0;
                             });
  for (; it != siblings.end(); ++it) {
    if (it->get() == node) return static_cast<int>(it - siblings.begin());
  }
  for (std::size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i].get() == node) return static_cast<int>(i);
  }
  return -1;
}

MzTreeDirNode* BackupTreeModel::nodeOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<MzTreeDirNode*>(index.internalPointer()) : nullptr;
}

QModelIndex BackupTreeModel::index(int row, int column, const QModelIndex& parent) const {
  const auto& children = childrenOf(nodeOf(parent));
  if (row < 0 || column != 0 || row >= static_cast<int>(children.size())) return {};
  return createIndex(row, column, children[static_cast<std::size_t>(row)].get());
}

QModelIndex BackupTreeModel::parent(const QModelIndex& child) const {
  const MzTreeDirNode* node = nodeOf(child);
  if (node == nullptr || node->parent == nullptr) return {};
  const int row = rowOf(node->parent);
  return row < 0 ? QModelIndex() : createIndex(row, 0, node->parent);
}

int BackupTreeModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() && parent.column() != 0) return 0;
  return static_cast<int>(childrenOf(nodeOf(parent)).size());
}

int BackupTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant BackupTreeModel::data(const QModelIndex& index, int role) const {
  const MzTreeDirNode* node = nodeOf(index);
  if (node == nullptr) return {};
  if (role == Qt::DisplayRole) return q(node->fileName);
  if (role == Qt::CheckStateRole) return checkState(node->isSelected);
  return {};
}

bool BackupTreeModel::setData(const QModelIndex& index, const QVariant&, int role) {
  MzTreeDirNode* node = nodeOf(index);
  if (node == nullptr || role != Qt::CheckStateRole) return false;
  controller_.outlineViewSetObjectValue(*node);
  return true;
}

Qt::ItemFlags BackupTreeModel::flags(const QModelIndex& index) const {
  return QAbstractItemModel::flags(index) | Qt::ItemIsUserCheckable;
}

QVariant BackupTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole) {
    return tr("Folders of the backup");
  }
  return {};
}

void BackupTreeModel::redrawTicks() {
  // Every visible tick may have changed: tell the views the whole model changed its data.
  emit layoutChanged();
}

// ---- The file table ----

void BackupFileModel::setFiles(std::vector<std::shared_ptr<MzTreeFileNode>> files) {
  beginResetModel();
  files_ = std::move(files);
  endResetModel();
}

void BackupFileModel::redrawTicks() {
  if (!files_.empty()) {
    emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
  }
}

int BackupFileModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(files_.size());
}

int BackupFileModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : 4;
}

QVariant BackupFileModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const MzTreeFileNode& file = *files_[static_cast<std::size_t>(index.row())];
  if (index.column() == 0 && role == Qt::CheckStateRole) {
    return file.bSelected ? Qt::Checked : Qt::Unchecked;
  }
  if (role == Qt::ToolTipRole) return q(file.dirFilePath);
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case 0:
      return q(file.treefileName);
    case 1:
      return q(file.treefileType);
    case 2:
      return file.isFile ? q(file.fileSize) : tr("not in the backup");
    default:
      return q(file.dirFilePath);
  }
}

bool BackupFileModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole) return false;
  controller_.fileTableSetObjectValue(value.toInt() == Qt::Checked ? 1 : 0,
                                      static_cast<std::size_t>(index.row()));
  return true;
}

Qt::ItemFlags BackupFileModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant BackupFileModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0:
      return tr("Name");
    case 1:
      return tr("Type");
    case 2:
      return tr("Size");
    default:
      return tr("Domain and path");
  }
}

// ---- The pane ----

BackupBrowserPane::BackupBrowserPane(MzTreeController& controller, QWidget* parent)
    : QWidget(parent),
      controller_(controller),
      treeModel_(new BackupTreeModel(controller, this)),
      fileModel_(new BackupFileModel(controller, this)),
      tree_(new QTreeView(this)),
      files_(new QTableView(this)) {
  setAccessibleName(tr("Backup browser"));
  tree_->setModel(treeModel_);
  tree_->setAccessibleName(tr("Folders of the backup"));
  tree_->setUniformRowHeights(true);
  files_->setModel(fileModel_);
  files_->setAccessibleName(tr("Files of the folder"));
  files_->setSelectionBehavior(QAbstractItemView::SelectRows);
  files_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  files_->verticalHeader()->hide();
  files_->horizontalHeader()->setStretchLastSection(true);
  files_->setColumnWidth(0, 220);
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(tree_);
  splitter->addWidget(files_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter);

  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            controller_.outlineViewSelectionDidChange(treeModel_->nodeOf(current));
          });
  connect(files_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    std::vector<std::size_t> rows;
    for (const QModelIndex& index : files_->selectionModel()->selectedRows()) {
      rows.push_back(static_cast<std::size_t>(index.row()));
    }
    std::sort(rows.begin(), rows.end());
    controller_.fileTableSelectionDidChange(rows);
  });
}

void BackupBrowserPane::reloadTree() {
  if (reloadQueued_) return;
  reloadQueued_ = true;
  QTimer::singleShot(0, this, [this] {
    reloadQueued_ = false;
    treeModel_->reload();
    if (expandQueued_) {
      expandQueued_ = false;
      tree_->expand(treeModel_->index(0, 0));
    }
  });
}

void BackupBrowserPane::expandFirstRow() {
  if (reloadQueued_) {
    expandQueued_ = true;
  } else {
    tree_->expand(treeModel_->index(0, 0));
  }
}

void BackupBrowserPane::redrawTicks() {
  treeModel_->redrawTicks();
  fileModel_->redrawTicks();
}

void BackupBrowserPane::setFileRows(const std::vector<std::shared_ptr<MzTreeFileNode>>& files) {
  fileModel_->setFiles(files);
}
