#include "ui/qt_main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include "base/main_thread.h"

void installQtMainThreadExecutor() {
  setMainThreadExecutor([](const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
      fn();
      return;
    }
    QMetaObject::invokeMethod(
        app, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
  });
}
