#include "ui/thumbnail_cache.h"

#include <QImage>
#include <QMetaObject>
#include <QPainter>
#include <QPixmap>
#include <QThread>

#include "ui/stored_image.h"

QPixmap thumbnailTile(const QPixmap& picture) {
  QPixmap tile(ThumbnailCache::kSize, ThumbnailCache::kSize);
  tile.fill(Qt::transparent);
  QPainter p(&tile);
  const QSize size =
      picture.size().scaled(tile.size(), Qt::KeepAspectRatio).boundedTo(picture.size());
  const QRect target(QPoint((tile.width() - size.width()) / 2, (tile.height() - size.height()) / 2),
                     size);
  p.drawPixmap(target, picture);
  return tile;
}

ThumbnailCache::ThumbnailCache(QObject* parent) : QObject(parent), images_(4000) {
  pool_.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
}

ThumbnailCache::~ThumbnailCache() {
  pool_.clear();
  pool_.waitForDone();
}

void ThumbnailCache::setBackupFolder(const std::string& folder) {
  pool_.clear();
  pool_.waitForDone();
  backupFolder_ = folder;
  images_.clear();
  pending_.clear();
  failed_.clear();
  ++generation_;
}

QIcon ThumbnailCache::thumbnail(const QString& path, const std::string& sourceFolder) {
  if (const QIcon* icon = images_.object(path)) return *icon;
  if (pending_.contains(path) || failed_.contains(path)) return {};
  pending_.insert(path);
  const std::string folder = sourceFolder.empty() ? backupFolder_ : sourceFolder;
  const int generation = generation_;
  // The cache outlives its work (its destructor waits for the pool); a result that arrives
  // after the cache is gone is dropped with the queued call.
  pool_.start([this, folder, path, generation] {
    QImage image = readStoredImage(folder, path.toStdString(), QSize(kSize, kSize));
    QMetaObject::invokeMethod(
        this,
        [this, path, generation, image = std::move(image)] {
          if (generation != generation_) return;
          pending_.remove(path);
          if (image.isNull()) {
            failed_.insert(path);
            return;
          }
          // Pixmaps are made on the main thread only.
          images_.insert(path, new QIcon(thumbnailTile(QPixmap::fromImage(image))));
          emit ready(path);
        },
        Qt::QueuedConnection);
  });
  return {};
}
