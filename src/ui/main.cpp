// retrievo-gui: the desktop application.
#include <QApplication>
#include <QTimer>

#include "app/retrievo_app_delegate.h"
#include "ui/button_images.h"
#include "ui/mz_window.h"
#include "ui/qt_main_thread.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Retrievo");
  QApplication::setOrganizationName("Retrievo");
  QApplication::setApplicationVersion(RETRIEVO_VERSION);
  QApplication::setDesktopFileName("retrievo-gui");
  QApplication::setWindowIcon(applicationIcon());
  installQtMainThreadExecutor();

  RetrievoAppDelegate& delegate = RetrievoAppDelegate::GetAppControllor();
  MzWindow window(delegate);
  // Devices attached now arrive at once; the device panels follow them from here on.
  delegate.initDeviceManagement();
  window.show();
  QTimer::singleShot(0, &window, [&window] { window.applicationDidFinishLaunching(); });
  return QApplication::exec();
}
