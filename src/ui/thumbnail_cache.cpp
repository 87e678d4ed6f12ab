#include "ui/thumbnail_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>
#include <QMetaObject>
#include <QThread>

#include "catalogue/stored_file.h"

namespace {

// Decodes the picture at `path` (inside `backupFolder`) at thumbnail size; null when it is
// not a picture or cannot be opened.
QImage decodeThumbnail(const std::string& backupFolder, const QString& path, int size) {
  const OpenedStoredFile opened = backupFolder.empty()
                                      ? openRegularFileAt(AT_FDCWD, path.toStdString().c_str())
                                      : openStoredFile(backupFolder, path.toStdString());
  if (opened.fd < 0) return {};
  QFile file;
  if (!file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(opened.fd);
    return {};
  }
  QImageReader reader(&file);
  reader.setAutoTransform(true);
  const QSize full = reader.size();
  if (full.isValid()) reader.setScaledSize(full.scaled(size, size, Qt::KeepAspectRatio));
  QImage image = reader.read();
  if (!image.isNull() && (image.width() > size || image.height() > size)) {
    image = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}

}  // namespace

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

QImage ThumbnailCache::thumbnail(const QString& path) {
  if (const QImage* image = images_.object(path)) return *image;
  if (pending_.contains(path) || failed_.contains(path)) return {};
  pending_.insert(path);
  const std::string folder = backupFolder_;
  const int generation = generation_;
  // The cache outlives its work (its destructor waits for the pool); a result that arrives
  // after the cache is gone is dropped with the queued call.
  pool_.start([this, folder, path, generation] {
    QImage image = decodeThumbnail(folder, path, kSize);
    QMetaObject::invokeMethod(
        this,
        [this, path, generation, image = std::move(image)] {
          if (generation != generation_) return;
          pending_.remove(path);
          if (image.isNull()) {
            failed_.insert(path);
            return;
          }
          images_.insert(path, new QImage(image));
          emit ready(path);
        },
        Qt::QueuedConnection);
  });
  return {};
}
