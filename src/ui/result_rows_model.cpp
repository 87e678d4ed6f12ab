#include "ui/result_rows_model.h"

#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include "results/result_view.h"
#include "results/result_view_controller.h"
#include "ui/thumbnail_cache.h"

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

// The first line of a text, for a table cell.
QString firstLine(const std::string& s) {
  const QString text = q(s).trimmed();
  const qsizetype end = text.indexOf('\n');
  return end < 0 ? text : text.left(end);
}

// The tile with "LIVE" in its top left corner: the grid's name line is too short to say it.
QIcon liveBadged(const QIcon& icon) {
  const QList<QSize> sizes = icon.availableSizes();
  QPixmap tile = icon.pixmap(sizes.isEmpty() ? QSize(ThumbnailCache::kSize, ThumbnailCache::kSize)
                                             : sizes.first());
  QPainter painter(&tile);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(10);
  painter.setFont(font);
  const QRect badge(4, 4, 32, 14);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 210));
  painter.drawRoundedRect(badge, 3, 3);
  painter.setPen(QColor(40, 40, 40));
  painter.drawText(badge, Qt::AlignCenter, QStringLiteral("LIVE"));
  painter.end();
  return QIcon(tile);
}

}  // namespace

ResultRowsModel::ResultRowsModel(MzResultViewController& controller, QObject* parent)
    : QAbstractTableModel(parent), controller_(controller) {}

void ResultRowsModel::setThumbnails(ThumbnailCache* cache) {
  thumbnails_ = cache;
  connect(cache, &ThumbnailCache::ready, this, [this](const QString& path) {
    for (int row : rowsOfPath_.value(path)) {
      emit dataChanged(index(row, 1), index(row, 1), {Qt::DecorationRole});
    }
  });
}

void ResultRowsModel::setRows(ResultCategory category, const ResultRows& rows) {
  beginResetModel();
  category_ = category;
  rows_ = rows;
  media_ = category == ResultCategory::Photo || category == ResultCategory::AppPhoto;
  rowsOfPath_.clear();
  if (media_) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (const auto* m = std::get_if<std::shared_ptr<MzPhotoAndVideoNode>>(&rows_[i]); m && *m) {
        rowsOfPath_[q((*m)->filePath)].push_back(static_cast<int>(i));
      }
    }
  }
  switch (category) {
    case ResultCategory::Photo:
    case ResultCategory::AppPhoto:
    case ResultCategory::FaceTwitter:
      headers_ = {QString(), tr("Name"), tr("Size")};
      keys_ = {"bSelected", "Name", "Size"};
      break;
    case ResultCategory::Contact:
      headers_ = {QString(), tr("Name"), tr("Phone"), tr("E-mail"), tr("Company")};
      keys_ = {"bSelected", "Name", "Phone", "Email", "Company"};
      break;
    case ResultCategory::Message:
      headers_ = {QString(), tr("Conversation"), tr("Address")};
      keys_ = {"bSelected", "Name", "Address"};
      break;
    case ResultCategory::Note:
      headers_ = {QString(), tr("Title"), tr("Date"), tr("Text")};
      keys_ = {"bSelected", "Title", "Date", "Text"};
      break;
    case ResultCategory::CallHistory:
      headers_ = {QString(), tr("Name"), tr("Number"), tr("Date"), tr("Type"), tr("Duration")};
      keys_ = {"bSelected", "Name", "Number", "Date", "Type", "Duration"};
      break;
    case ResultCategory::BookMark:
      headers_ = {QString(), tr("Title"), tr("Address")};
      keys_ = {"bSelected", "Title", "URL"};
      break;
    case ResultCategory::Calender:
      headers_ = {QString(), tr("Title"), tr("Start"), tr("End"), tr("Location"), tr("Calendar")};
      keys_ = {"bSelected", "Title", "Start", "End", "Location", "Calendar"};
      break;
    case ResultCategory::BackUpBrowser:
      headers_ = {QString()};
      keys_ = {"bSelected"};
      break;
  }
  endResetModel();
}

void ResultRowsModel::redrawTicks() {
  if (rows_.empty()) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, media_ ? 1 : 0), {Qt::CheckStateRole});
}

QString ResultRowsModel::columnKey(int column) const {
  return column >= 0 && column < keys_.size() ? keys_[column] : QString();
}

int ResultRowsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ResultRowsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QString ResultRowsModel::cellText(const ResultRecord& record, int column) const {
  return std::visit(
      [column](const auto& r) -> QString {
        using T = std::decay_t<decltype(*r)>;
        if (!r) return {};
        if constexpr (std::is_same_v<T, MzPhotoAndVideoNode>) {
          if (column != 1) return q(r->fileNodeSize);
          return r->bLivePhoto ? q(r->fileNodeName) + " · " + tr("Live Photo") : q(r->fileNodeName);
        } else if constexpr (std::is_same_v<T, MzFaceTwitterNode>) {
          return column == 1 ? q(r->faceTwitterFileName) : q(r->fileSize);
        } else if constexpr (std::is_same_v<T, MzContactNode>) {
          switch (column) {
            case 1:
              return q(r->contactName);
            case 2:
              return q(r->contactPhone).trimmed();
            case 3:
              return q(r->contactEmail).trimmed();
            default:
              return q(r->contactCompany).trimmed();
          }
        } else if constexpr (std::is_same_v<T, MzMessageTreeNode>) {
          if (column != 1) return q(r->messageTreeNodeAdress);
          // A chat names its service: the SMS and the iMessage chat with one person are two.
          if (r->chat && !r->chat->service.empty()) {
            return (r->messageTreeNodeName.empty() ? QString() : q(r->messageTreeNodeName) + "  ") +
                   "(" + q(r->chat->service) + ")";
          }
          return q(r->messageTreeNodeName);
        } else if constexpr (std::is_same_v<T, MzNoteNode>) {
          switch (column) {
            case 1:
              return firstLine(r->noteTitle);
            case 2:
              return q(r->noteDate);
            default:
              return firstLine(r->noteContent);
          }
        } else if constexpr (std::is_same_v<T, MzCallHistoryNode>) {
          switch (column) {
            case 1:
              return q(r->callName.value_or(std::string()));
            case 2:
              return q(r->callPhone);
            case 3:
              return q(r->callDate);
            case 4:
              return q(r->callType);
            default:
              return q(r->callDuration);
          }
        } else if constexpr (std::is_same_v<T, MzBookMarkNode>) {
          return column == 1 ? firstLine(r->bookMarkTitle) : q(r->bookMarkURL);
        } else if constexpr (std::is_same_v<T, MzCalenderNode>) {
          switch (column) {
            case 1:
              return firstLine(r->calTitle);
            case 2:
              return q(r->startDate);
            case 3:
              return q(r->endDate);
            case 4:
              return firstLine(r->location);
            default:
              // A reminder says so beside its list's name.
              return r->kind.empty() ? q(r->calendarName)
                                     : q(r->calendarName + " (" + r->kind + ")");
          }
        }
        return {};
      },
      record);
}

QString ResultRowsModel::toolTipText(const ResultRecord& record, int column) const {
  QString text = cellText(record, column);
  // A camera-roll photo also says when it was taken and its original name.
  if (const auto* m = std::get_if<std::shared_ptr<MzPhotoAndVideoNode>>(&record); m && *m) {
    if (!(*m)->captureDate.empty()) text += "\n" + tr("Taken: ") + q((*m)->captureDate);
    if (!(*m)->originalFileName.empty()) {
      text += "\n" + tr("Original name: ") + q((*m)->originalFileName);
    }
  }
  return text;
}

QVariant ResultRowsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const ResultRecord& record = rows_[static_cast<std::size_t>(index.row())];
  // The grid of a media category shows column 1: its cells carry the tick and the picture.
  if (media_ && index.column() == 1) {
    if (role == Qt::CheckStateRole) return isSelected(record) ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::DecorationRole) {
      const auto& m = std::get<std::shared_ptr<MzPhotoAndVideoNode>>(record);
      const bool live = m && m->bLivePhoto;
      if (m && !m->bmov && thumbnails_ != nullptr) {
        const QIcon icon = thumbnails_->thumbnail(q(m->filePath), m->sourceFolder);
        if (!icon.isNull()) return live ? liveBadged(icon) : icon;
      }
      static const QIcon film(
          thumbnailTile(QApplication::style()->standardIcon(QStyle::SP_MediaPlay).pixmap(48, 48)));
      static const QIcon picture(
          thumbnailTile(QApplication::style()->standardIcon(QStyle::SP_FileIcon).pixmap(48, 48)));
      static const QIcon livePicture(liveBadged(picture));
      if (m && m->bmov) return film;
      return live ? livePicture : picture;
    }
  }
  if (index.column() == 0) {
    if (role == Qt::CheckStateRole) return isSelected(record) ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::AccessibleTextRole) return isSelected(record) ? tr("ticked") : tr("not ticked");
    return {};
  }
  switch (role) {
    case Qt::DisplayRole:
      return cellText(record, index.column());
    case Qt::ToolTipRole:
      return toolTipText(record, index.column());
    case Qt::ForegroundRole:
      if (isDeletedRecord(record)) {
        return QColor::fromRgbF(static_cast<float>(kDeletedRowRed),
                                static_cast<float>(kDeletedRowGreen),
                                static_cast<float>(kDeletedRowBlue));
      }
      return {};
    default:
      return {};
  }
}

bool ResultRowsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  const bool tickColumn = index.column() == 0 || (media_ && index.column() == 1);
  if (!index.isValid() || !tickColumn || role != Qt::CheckStateRole) return false;
  const bool on = value.toInt() == Qt::Checked;
  controller_.tableViewSetObjectValue(on ? 1 : 0, "bSelected",
                                      static_cast<std::size_t>(index.row()));
  redrawTicks();
  return true;
}

Qt::ItemFlags ResultRowsModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.column() == 0 || (media_ && index.column() == 1)) f |= Qt::ItemIsUserCheckable;
  return f;
}

QVariant ResultRowsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= headers_.size()) return {};
  if (role == Qt::DisplayRole) return headers_[section];
  if (role == Qt::ToolTipRole && section == 0) return tr("Tick to recover");
  return {};
}
