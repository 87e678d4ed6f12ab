// Turning a Qt event loop in a test until something holds.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <functional>

// Turns the event loop until `done` holds or 60 seconds pass; false on the timeout.
inline bool spinUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > 60000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}
