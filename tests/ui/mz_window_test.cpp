// The application shell, driven through its real widgets.
#include "ui/mz_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QSettings>
#include <QTableView>
#include <QTest>

#include "app/retrievo_app_delegate.h"
#include "backup_writer.h"
#include "support/temp_dir.h"
#include "ui/mz_button.h"

namespace {

// A window over a backup root of its own that holds `backups` backups.
class Shell : public testing::Test {
 protected:
  void SetUp() override {
    QSettings().clear();
    setenv("RETRIEVO_BACKUP_ROOT", root.path().c_str(), 1);
  }
  void TearDown() override { unsetenv("RETRIEVO_BACKUP_ROOT"); }

  void addBackup(const std::string& name) {
    fixtures::BackupWriter writer(root.sub(name));
    fixtures::DeviceInfo device;
    device.deviceName = name;
    writer.setDevice(device);
    writer.addFile("HomeDomain", "Library/Preferences/a.plist", {'b', 'p'});
    ASSERT_TRUE(writer.write());
  }

  std::unique_ptr<MzWindow> open() {
    auto window = std::make_unique<MzWindow>(delegate);
    window->askQuestion = [this](const QString& message, const QStringList& buttons) {
      questions << message + " [" + buttons.join("|") + "]";
      return answer;
    };
    window->show();
    window->applicationDidFinishLaunching();
    return window;
  }

  TempDir root;
  NotificationCenter center;
  RetrievoAppDelegate delegate{center};
  QStringList questions;
  int answer = 1;  // "Cancel"
};

TEST_F(Shell, OpensOnTheCloudViewWithOnlyItsSignInPanel) {
  auto window = open();
  EXPECT_EQ(window->scanIntType, 3);
  EXPECT_TRUE(window->scanIcloudView()->isVisible());
  EXPECT_TRUE(window->scansignInCloudView()->isVisible());
  for (QWidget* hidden :
       {window->scanDownloadCloudView(), window->scaniCloudBackupView(),
        window->scanAnalyCloudView(), window->scanItunesView(), window->scanDeviceNoDeviceView(),
        window->scanDeviceHasDeviceView(), static_cast<QWidget*>(window->button())}) {
    EXPECT_FALSE(hidden->isVisible()) << hidden->accessibleName().toStdString();
  }
}

TEST_F(Shell, TheScanButtonBelongsToTheBackupFolderViewAlone) {
  addBackup("Emma's iPhone");
  auto window = open();
  QTest::mouseClick(window->itunesBtn(), Qt::LeftButton);
  EXPECT_EQ(window->scanIntType, 2);
  EXPECT_TRUE(window->button()->isVisible());
  EXPECT_TRUE(window->button()->isEnabled());  // the first backup is selected
  EXPECT_EQ(window->itunesBtn()->imageName(), "recoveritunesbackupDown.png");
  EXPECT_EQ(window->icloudBtn()->imageName(), "recovericloudbackupNom.png");
  auto* table = window->scanItunesView()->findChild<QTableView*>();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->model()->rowCount(), 1);
  EXPECT_EQ(table->model()->index(0, 1).data().toString(), "Emma's iPhone");

  // Away and back through the results view: the button shows again only in this view.
  window->hideMainView();
  window->showResultView();
  EXPECT_FALSE(window->button()->isVisible());
  window->showMainView();
  EXPECT_TRUE(window->button()->isVisible());
  QTest::mouseClick(window->iOSBtn(), Qt::LeftButton);
  EXPECT_EQ(window->scanIntType, 1);
  EXPECT_TRUE(window->scanDeviceNoDeviceView()->isVisible());
  EXPECT_FALSE(window->button()->isVisible());
  window->hideMainView();
  window->showMainView();
  EXPECT_FALSE(window->button()->isVisible());
}

TEST_F(Shell, CancelToTheExitQuestionKeepsTheWindow) {
  auto window = open();
  QTest::mouseClick(window->closeWindowBtn(), Qt::LeftButton);
  ASSERT_EQ(questions.size(), 1);
  EXPECT_EQ(questions[0], "Are you sure you want to Exit ? [ Exit |Cancel]");
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->closeWindowBtn()->imageName(), "titlebarred.png");
  // The window's own close control asks the same.
  EXPECT_FALSE(window->close());
  EXPECT_TRUE(window->isVisible());
  answer = 0;
  EXPECT_TRUE(window->close());
  EXPECT_EQ(questions.size(), 3);
}

TEST_F(Shell, AnEmptyBackupRootLeavesTheScanButtonOff) {
  auto window = open();
  QTest::mouseClick(window->itunesBtn(), Qt::LeftButton);
  EXPECT_FALSE(window->button()->isEnabled());
  // Keyboard: the source buttons take Space.
  window->iOSBtn()->setFocus();
  QTest::keyClick(window->iOSBtn(), Qt::Key_Space);
  EXPECT_EQ(window->scanIntType, 1);
}

// Saves a picture of every entry view under the build tree (screenshots/), for a person to
// look at; the pictures must not be empty.
TEST_F(Shell, ScreenshotsOfTheEntryViews) {
  addBackup("Emma's iPhone");
  addBackup("Work iPad");
  auto window = open();
  window->resize(960, 640);
  const QString folder = QStringLiteral(RETRIEVO_SCREENSHOT_DIR);
  QDir().mkpath(folder);
  const auto save = [&](const QString& name) {
    QApplication::processEvents();
    const QImage image = window->grab().toImage();
    EXPECT_FALSE(image.isNull());
    EXPECT_TRUE(image.save(folder + "/" + name + ".png")) << name.toStdString();
  };
  save("entry-cloud");
  QTest::mouseClick(window->itunesBtn(), Qt::LeftButton);
  save("entry-backup-folder");
  QTest::mouseClick(window->iOSBtn(), Qt::LeftButton);
  save("entry-device");
}

}  // namespace
