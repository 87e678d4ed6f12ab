// Thumbnails of the photos and videos of a backup, made off the main thread and kept.
//
// A grid asks for the thumbnail of each cell it draws; one that is not made yet is queued
// for the worker threads and `ready` reports it once it is. Only the cells drawn are asked
// for, so a backup of 50,000 photos costs the thumbnails in view, not 50,000 decodings. The
// stored files are opened as every other reader of the backup opens them (no link inside
// the backup is followed), and each picture is decoded at its thumbnail size. Videos get a
// film symbol.
#pragma once

#include <QCache>
#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <string>

// `picture` centred on a transparent square of the thumbnail size: every cell of the grid
// then has a picture of one size, whatever the photo's shape, and lays out alike.
QPixmap thumbnailTile(const QPixmap& picture);

class ThumbnailCache : public QObject {
  Q_OBJECT

 public:
  static constexpr int kSize = 112;

  explicit ThumbnailCache(QObject* parent = nullptr);
  ~ThumbnailCache() override;

  // The backup folder the stored files lie in; forgets every thumbnail.
  void setBackupFolder(const std::string& folder);

  // The thumbnail of the stored file `path`, as an icon of the grid's icon size (so every
  // cell keeps the same layout whatever the picture's shape); a null icon while it is being
  // made, or when the file is no picture Qt can read.
  // A file outside the backup names the folder it lies in as `sourceFolder`.
  QIcon thumbnail(const QString& path, const std::string& sourceFolder = {});

  // Waits for the queued work (tests).
  void waitForLoads() { pool_.waitForDone(); }

 signals:
  void ready(const QString& path);

 private:
  std::string backupFolder_;
  QCache<QString, QIcon> images_;
  QSet<QString> pending_;
  QSet<QString> failed_;
  QThreadPool pool_;
  int generation_ = 0;
};
