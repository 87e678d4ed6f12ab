// The desktop application's tests: GoogleTest inside a QApplication, offscreen unless a
// display is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "ui/qt_main_thread.h"

namespace {

// The offscreen platform warns on every window it cannot size as a desktop would.
void quietOffscreenWarnings(QtMsgType type, const QMessageLogContext& context,
                            const QString& message) {
  if (message.contains("propagateSizeHints")) return;
  qt_message_output(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
  qInstallMessageHandler(quietOffscreenWarnings);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QApplication::setOrganizationName("RetrievoTests");
  QApplication::setApplicationName("RetrievoTests");
  installQtMainThreadExecutor();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
