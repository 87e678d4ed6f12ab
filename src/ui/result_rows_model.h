// The rows of one results table as a Qt model: a model over the controller's row list, so a
// table of 100,000 rows costs no widget per row. Column 0 holds the tick boxes; a tick the
// user changes goes to the controller, which ticks every highlighted row with it. Deleted
// records are drawn in the deleted-row red.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QStringList>

#include "results/result_record.h"

class MzResultViewController;
class ThumbnailCache;

class ResultRowsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ResultRowsModel(MzResultViewController& controller, QObject* parent = nullptr);

  // Shows `rows` of `category`.
  void setRows(ResultCategory category, const ResultRows& rows);
  // Thumbnails for the media categories (none: a symbol for each).
  void setThumbnails(ThumbnailCache* cache);
  // Ticks changed: the tick column is drawn again.
  void redrawTicks();
  ResultCategory category() const { return category_; }
  const ResultRows& rows() const { return rows_; }
  // The controller's name of a column ("bSelected", "Name", "Size", "Date"), for sorting.
  QString columnKey(int column) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  QString cellText(const ResultRecord& record, int column) const;
  // The cell's text, with a photo's capture date and original name below it.
  QString toolTipText(const ResultRecord& record, int column) const;

  MzResultViewController& controller_;
  ResultCategory category_ = ResultCategory::Photo;
  ResultRows rows_;
  QStringList headers_;
  QStringList keys_;
  ThumbnailCache* thumbnails_ = nullptr;
  QHash<QString, QList<int>> rowsOfPath_;  // media rows by stored file
  bool media_ = false;
};
