// The cloud view in the window, driven from the keyboard as a user does: the account and
// password typed and Return pressed, the backup list, Return on a row downloading it and
// showing the results of its scan.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/retrievo_app_delegate.h"
#include "results/result_view_controller.h"
#include "support/cloud_module.h"
#include "support/spin_until.h"
#include "support/temp_dir.h"
#include "ui/cloud_view.h"
#include "ui/mz_window.h"

namespace {

TEST(CloudWindow, SignInListAndDownloadFromTheKeyboard) {
  TempDir tmp;
  std::ofstream(tmp.sub("crypto.so")) << cloudtest::moduleText(3, false);
  std::filesystem::create_directories(tmp.sub("downloads/one"));
  std::filesystem::create_directories(tmp.sub("downloads/two"));
  setenv("RETRIEVO_BACKUP_ROOT", tmp.sub("no-backups").c_str(), 1);
  NotificationCenter center;
  cloud::CloudScriptBridge bridge;
  bridge.setModuleFile(tmp.sub("crypto.so"));
  RetrievoAppDelegate delegate(center);
  delegate.bridge = &bridge;
  delegate.cloudDownloadRoot = tmp.sub("downloads");
  {
    MzWindow window(delegate);
    QStringList questions;
    window.askQuestion = [&](const QString& message, const QStringList&) {
      questions << message;
      return 0;
    };
    window.show();
    window.applicationDidFinishLaunching();
    CloudView* cloud = window.findChild<CloudView*>();
    ASSERT_NE(cloud, nullptr);
    ASSERT_TRUE(cloud->signInPanel()->isVisible());

    QTest::keyClicks(cloud->accountEdit(), "emma@example.com");
    QTest::keyClicks(cloud->passwordEdit(), "secret");
    QTest::keyClick(cloud->passwordEdit(), Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] { return cloud->backupListPanel()->isVisible(); }));
    EXPECT_FALSE(cloud->signInPanel()->isVisible());
    ASSERT_EQ(cloud->backupTable()->rowCount(), 3);
    EXPECT_EQ(cloud->backupTable()->item(0, 0)->text(), "Emma's iPhone");

    // Return on the selected first row downloads it; the scan of its folder follows.
    QTest::keyClick(cloud->backupTable(), Qt::Key_Return);
    ASSERT_TRUE(spinUntil([&] {
      return window.results().bScanFinished && !delegate.cloudThreadsRunning() &&
             !delegate.scanRunning();
    }));
    EXPECT_TRUE(questions.isEmpty()) << questions.join("\n").toStdString();
    EXPECT_TRUE(
        std::filesystem::exists(tmp.sub("downloads/emma@example.com/c0ffee01_1/info.plist")));
  }
  unsetenv("RETRIEVO_BACKUP_ROOT");
}

}  // namespace
