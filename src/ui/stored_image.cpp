#include "ui/stored_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QImageReader>

#include "catalogue/stored_file.h"

QImage readStoredImage(const std::string& backupFolder, const std::string& path, QSize box) {
  const OpenedStoredFile opened = backupFolder.empty() ? openRegularFileAt(AT_FDCWD, path.c_str())
                                                       : openStoredFile(backupFolder, path);
  if (opened.fd < 0) return {};
  QFile file;
  if (!file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(opened.fd);
    return {};
  }
  QImageReader reader(&file);
  reader.setAutoTransform(true);
  const QSize full = reader.size();
  // Decoding at the smaller size is what keeps a 12-megapixel photo cheap.
  if (full.isValid() && (full.width() > box.width() || full.height() > box.height())) {
    reader.setScaledSize(full.scaled(box, Qt::KeepAspectRatio));
  }
  QImage image = reader.read();
  if (!image.isNull() && (image.width() > box.width() || image.height() > box.height())) {
    image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  return image;
}
