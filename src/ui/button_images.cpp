#include "ui/button_images.h"

#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {

// What an image name stands for: its label and icon, and whether it is the pressed (or
// hovered) face.
struct Face {
  QString label;
  QString glyph;  // a symbol drawn above the label, "" for none
  bool down = false;
  bool close = false;
};

Face faceOf(const QString& name) {
  Face face;
  const QString base = QString(name).remove(".png");
  face.down = base.endsWith("Down") || base.endsWith("down");
  if (base.startsWith("recoveriosdevice")) {
    face.label = QCoreApplication::translate("MzButton", "From iOS Device");
    face.glyph = QStringLiteral("\u2630");
  } else if (base.startsWith("recoveritunesbackup")) {
    face.label = QCoreApplication::translate("MzButton", "From Backup Folder");
    face.glyph = QStringLiteral("\u2750");
  } else if (base.startsWith("recovericloudbackup")) {
    face.label = QCoreApplication::translate("MzButton", "From Cloud Backup");
    face.glyph = QStringLiteral("\u2601");
  } else if (base.startsWith("startscan") || base.startsWith("StartScan")) {
    face.label = QCoreApplication::translate("MzButton", "Start Scan");
  } else if (base.startsWith("titlebarred")) {
    face.close = true;
  }
  return face;
}

}  // namespace

QPixmap buttonImage(const QString& name, QSize size, qreal pixelRatio) {
  QPixmap pixmap(size * pixelRatio);
  pixmap.setDevicePixelRatio(pixelRatio);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const Face face = faceOf(name);
  const QRectF box(0.5, 0.5, size.width() - 1.0, size.height() - 1.0);

  if (face.close) {
    p.setBrush(face.down ? QColor(0xB0, 0x2A, 0x1E) : QColor(0xE0, 0x4B, 0x3A));
    p.setPen(QPen(QColor(0x8A, 0x20, 0x16), 1));
    p.drawEllipse(box.adjusted(1, 1, -1, -1));
    p.setPen(QPen(Qt::white, 1.6));
    const QRectF x = box.adjusted(box.width() * 0.32, box.height() * 0.32, -box.width() * 0.32,
                                  -box.height() * 0.32);
    p.drawLine(x.topLeft(), x.bottomRight());
    p.drawLine(x.topRight(), x.bottomLeft());
    return pixmap;
  }

  // A rounded face: blue and raised when normal, darker and flat when down.
  QLinearGradient fill(box.topLeft(), box.bottomLeft());
  if (face.down) {
    fill.setColorAt(0, QColor(0x1F, 0x5F, 0xA8));
    fill.setColorAt(1, QColor(0x17, 0x4A, 0x86));
  } else {
    fill.setColorAt(0, QColor(0xF7, 0xF9, 0xFC));
    fill.setColorAt(1, QColor(0xE1, 0xE7, 0xEF));
  }
  QPainterPath path;
  path.addRoundedRect(box, 8, 8);
  p.fillPath(path, fill);
  p.setPen(QPen(face.down ? QColor(0x12, 0x3C, 0x6E) : QColor(0xAE, 0xB8, 0xC6), 1));
  p.drawPath(path);

  const QColor ink = face.down ? QColor(Qt::white) : QColor(0x1F, 0x3B, 0x5C);
  p.setPen(ink);
  QFont font = p.font();
  if (!face.glyph.isEmpty()) {
    QFont glyphFont = font;
    glyphFont.setPixelSize(static_cast<int>(size.height() * 0.38));
    p.setFont(glyphFont);
    p.drawText(QRectF(box.left(), box.top() + 4, box.width(), box.height() * 0.55), Qt::AlignCenter,
               face.glyph);
    font.setPixelSize(std::max(11, static_cast<int>(size.height() * 0.15)));
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(box.left() + 4, box.top() + box.height() * 0.58, box.width() - 8,
                      box.height() * 0.38),
               Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, face.label);
  } else {
    font.setPixelSize(std::max(12, static_cast<int>(size.height() * 0.4)));
    font.setBold(true);
    p.setFont(font);
    p.drawText(box, Qt::AlignCenter, face.label);
  }
  return pixmap;
}

QIcon applicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    QLinearGradient face(0, 16, 0, 240);
    face.setColorAt(0, QColor(0x2F, 0x7B, 0xD0));
    face.setColorAt(1, QColor(0x17, 0x4A, 0x86));
    QPainterPath tile;
    tile.addRoundedRect(QRectF(16, 16, 224, 224), 48, 48);
    p.fillPath(tile, face);
    QPainterPath phone;
    phone.addRoundedRect(QRectF(84, 44, 88, 152), 16, 16);
    p.fillPath(phone, Qt::white);
    p.fillRect(QRectF(94, 62, 68, 108), QColor(0xDF, 0xE9, 0xF5));
    p.setBrush(QColor(0x17, 0x4A, 0x86));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(128, 182), 6, 6);
    p.setPen(QPen(QColor(0x17, 0x4A, 0x86), 9, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(98, 86, 60, 60), 30 * 16, 300 * 16);
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}
