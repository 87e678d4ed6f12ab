#include "ui/mz_button.h"

#include <QKeyEvent>
#include <QPainter>

#include "base/notification_center.h"
#include "ui/button_images.h"

MzButton::MzButton(NotificationCenter& center, const QString& accessibleName, QSize size,
                   QWidget* parent)
    : QAbstractButton(parent), center_(center), size_(size) {
  setAccessibleName(accessibleName);
  setToolTip(accessibleName);
  setFocusPolicy(Qt::StrongFocus);
  setFixedSize(size);
  setCursor(Qt::PointingHandCursor);
}

void MzButton::setImage(const QString& name) {
  imageName_ = name;
  update();
}

void MzButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawPixmap(0, 0, buttonImage(imageName_, size_, devicePixelRatioF()));
  if (hasFocus()) {
    QPen pen(palette().color(QPalette::Highlight), 2);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 8, 8);
  }
  if (!isEnabled()) p.fillRect(rect(), QColor(255, 255, 255, 140));
}

void MzButton::enterEvent(QEnterEvent* event) {
  QAbstractButton::enterEvent(event);
  if (isEnabled()) center_.post("MzbuttonMouseEntered", this);
}

void MzButton::leaveEvent(QEvent* event) {
  QAbstractButton::leaveEvent(event);
  if (isEnabled()) center_.post("MzbuttonMouseExited", this);
}

void MzButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isEnabled()) return;
  pressed();
}

void MzButton::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
       event->key() == Qt::Key_Enter) &&
      isEnabled()) {
    pressed();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

void MzButton::pressed() {
  center_.post("MzbuttonMouseDown", this);
  emit clicked();
}
