#include "ui/stored_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <cerrno>

#include "catalogue/stored_plaintext.h"

namespace {

// The largest encrypted image decrypted for a preview.
constexpr qsizetype kMaxDecryptedImage = 256 * 1024 * 1024;

}  // namespace

QImage readStoredImage(const std::string& backupFolder, const std::string& path, QSize box) {
  StoredPlaintext stored = StoredPlaintext::open(backupFolder, path);
  if (!stored.isOpen()) return {};
  QFile file;
  QBuffer buffer;
  QIODevice* device = &file;
  if (stored.encrypted()) {
    // An encrypted backup's image is decrypted into memory; pictures are small enough.
    QByteArray bytes;
    const DecryptResult done = stored.copyTo([&bytes](const std::uint8_t* data, std::size_t size) {
      if (bytes.size() + static_cast<qsizetype>(size) > kMaxDecryptedImage) return EFBIG;
      bytes.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
      return 0;
    });
    if (done.end != DecryptEnd::Done) return {};
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return {};
    device = &buffer;
  } else {
    const int fd = ::dup(stored.fd());
    if (fd < 0) return {};
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
      ::close(fd);
      return {};
    }
  }
  QImageReader reader(device);
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
