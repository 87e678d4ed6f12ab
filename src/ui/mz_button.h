// The window's image buttons. A button shows the image it was last given by name
// (button_images.h) and reports the pointer entering, leaving and pressing it by posting
// "MzbuttonMouseEntered", "MzbuttonMouseExited" and "MzbuttonMouseDown" with itself as the
// object; the window's handlers decide what each does. Space and Enter press a focused
// button as a click does, so every button works from the keyboard.
#pragma once

#include <QAbstractButton>
#include <QString>

class NotificationCenter;

class MzButton : public QAbstractButton {
  Q_OBJECT

 public:
  MzButton(NotificationCenter& center, const QString& accessibleName, QSize size,
           QWidget* parent = nullptr);

  // Shows the image called `name` ("recoveritunesbackupDown.png").
  void setImage(const QString& name);
  const QString& imageName() const { return imageName_; }

  QSize sizeHint() const override { return size_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void pressed();

  NotificationCenter& center_;
  QSize size_;
  QString imageName_;
};
