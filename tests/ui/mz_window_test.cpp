// The application shell, driven through its real widgets.
#include "ui/mz_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QTextBrowser>
#include <QTreeView>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "app/retrievo_app_delegate.h"
#include "backup_encryption.h"
#include "backup_writer.h"
#include "results/hex_preview.h"
#include "results/result_view_controller.h"
#include "sample_backup.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "ui/backup_browser_pane.h"
#include "ui/backup_folder_view.h"
#include "ui/mz_button.h"
#include "ui/record_preview.h"
#include "ui/result_rows_model.h"
#include "ui/results_view.h"
#include "ui/thumbnail_cache.h"

namespace {

// Saves a picture of `widget` as NAME.png under the build tree (screenshots/), for a person to
// look at; the folder is made on first use, whichever test runs first.
bool saveScreenshot(QWidget& widget, const QString& name) {
  const QString folder = QStringLiteral(RETRIEVO_SCREENSHOT_DIR);
  QDir().mkpath(folder);
  const QImage image = widget.grab().toImage();
  return !image.isNull() && image.save(folder + "/" + name + ".png");
}

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

  // The sample backup in the root; returns its folder.
  std::string addSample() {
    const std::string folder = root.sub(fixtures::sampleBackupFolderName());
    fixtures::BackupBuildResult built;
    std::string error;
    EXPECT_TRUE(fixtures::buildSampleBackup(folder, {}, &built, &error)) << error;
    return folder;
  }

  std::unique_ptr<MzWindow> open() {
    auto window = std::make_unique<MzWindow>(delegate);
    window->askQuestion = [this](const QString& message, const QStringList& buttons) {
      questions << message + " [" + buttons.join("|") + "]";
      return answer;
    };
    window->askPassword = [this](const QString& message) -> std::optional<std::string> {
      passwordPrompts << message;
      if (passwords.isEmpty()) return std::nullopt;  // "Cancel"
      return passwords.takeFirst().toStdString();
    };
    window->show();
    QApplication::setActiveWindow(window.get());
    window->applicationDidFinishLaunching();
    return window;
  }

  TempDir root;
  NotificationCenter center;
  RetrievoAppDelegate delegate{center};
  QStringList questions;
  int answer = 1;  // "Cancel"
  QStringList passwordPrompts;
  QStringList passwords;  // the answers to the password prompts, then "Cancel"
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

// Waits for the running scan to end, the event loop turning (the scan waits on it).
void waitForTheScan(MzWindow& window, RetrievoAppDelegate& delegate) {
  QElapsedTimer timer;
  timer.start();
  while ((delegate.scanRunning() || !window.results().bScanFinished) && timer.elapsed() < 60000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  delegate.waitForScan();
  QApplication::processEvents();
}

// Scans the selected backup through the window.
void scanSelected(MzWindow& window, RetrievoAppDelegate& delegate) {
  QTest::mouseClick(window.itunesBtn(), Qt::LeftButton);
  ASSERT_TRUE(window.button()->isEnabled());
  QTest::mouseClick(window.button(), Qt::LeftButton);
  waitForTheScan(window, delegate);
}

TEST_F(Shell, AnEncryptedBackupAsksForItsPasswordUntilItIsRightOrCancelled) {
  fixtures::BackupBuildOptions options;
  options.encryption = fixtures::BackupEncryption{.password = "right"};
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(root.sub(fixtures::sampleBackupFolderName()), options,
                                          &built, &error))
      << error;
  auto window = open();
  QTest::mouseClick(window->itunesBtn(), Qt::LeftButton);
  // A wrong password asks again; cancel leaves the list without a scan or a message.
  passwords = {"wrong"};
  QTest::mouseClick(window->button(), Qt::LeftButton);
  ASSERT_EQ(passwordPrompts.size(), 2);
  EXPECT_TRUE(passwordPrompts[0].contains("is encrypted")) << passwordPrompts[0].toStdString();
  EXPECT_TRUE(passwordPrompts[1].startsWith("Wrong backup password"))
      << passwordPrompts[1].toStdString();
  EXPECT_TRUE(questions.isEmpty());
  EXPECT_FALSE(delegate.scanRunning());
  EXPECT_FALSE(window->resultView()->isVisible());
  // The right one scans the backup as any other.
  passwords = {"right"};
  scanSelected(*window, delegate);
  EXPECT_EQ(passwordPrompts.size(), 3);
  EXPECT_TRUE(window->resultView()->isVisible());
  std::size_t live = 0;
  for (const auto& c : built.truth["contacts"]) live += c.value("deleted", false) ? 0 : 1;
  EXPECT_EQ(window->results().countsFor(ResultCategory::Contact).live, live);
}

TEST_F(Shell, AScanFillsTheCategoriesWithTheCountsOfTheCommandLine) {
  const std::string folder = addSample();
  auto window = open();
  scanSelected(*window, delegate);
  ResultsView* results = window->resultView();
  EXPECT_TRUE(results->isVisible());

  CommandResult cli = runCommand(RETRIEVO_CLI_PATH, {"scan", folder, "--json", "-", "--quiet"});
  ASSERT_EQ(cli.exitCode, 0) << cli.err;
  const auto doc = nlohmann::json::parse(cli.out);
  const std::map<std::string, ResultCategory> byName = {
      {"contacts", ResultCategory::Contact},   {"conversations", ResultCategory::Message},
      {"calls", ResultCategory::CallHistory},  {"notes", ResultCategory::Note},
      {"bookmarks", ResultCategory::BookMark}, {"calendar", ResultCategory::Calender},
      {"photos", ResultCategory::Photo},       {"appPhotos", ResultCategory::AppPhoto},
      {"social", ResultCategory::FaceTwitter}};
  for (const auto& [name, category] : byName) {
    const auto counts = window->results().countsFor(category);
    EXPECT_EQ(counts.live, doc["counts"][name]["live"].get<std::size_t>()) << name;
    EXPECT_EQ(counts.deleted, doc["counts"][name]["deleted"].get<std::size_t>()) << name;
  }
  // The list says the same; the contacts' table holds them, deleted ones in red.
  const auto contacts = window->results().countsFor(ResultCategory::Contact);
  results->categoryList()->setCurrentRow(2);
  EXPECT_EQ(results->model()->rowCount(), static_cast<int>(contacts.live + contacts.deleted));
  EXPECT_TRUE(results->categoryList()->item(2)->text().startsWith(
      QString("Contacts  (%1").arg(contacts.live + contacts.deleted)));

  // Photos come as a grid of thumbnails, decoded off the main thread.
  results->categoryList()->setCurrentRow(0);
  EXPECT_TRUE(results->grid()->isVisible());
  ASSERT_GT(results->model()->rowCount(), 0);
  results->model()->index(0, 1).data(Qt::DecorationRole);  // asks for the first thumbnail
  results->thumbnails()->waitForLoads();
  QApplication::processEvents();
  const QIcon thumbnail = results->model()->index(0, 1).data(Qt::DecorationRole).value<QIcon>();
  EXPECT_FALSE(thumbnail.isNull());
  // Every cell's picture is one square of the thumbnail size, loaded or not; this one is the
  // photo itself (its corners are the transparent margin of a landscape picture).
  ASSERT_FALSE(thumbnail.availableSizes().isEmpty());
  EXPECT_EQ(thumbnail.availableSizes().first(),
            QSize(ThumbnailCache::kSize, ThumbnailCache::kSize));
  const QImage tile = thumbnail.pixmap(ThumbnailCache::kSize).toImage();
  EXPECT_EQ(qAlpha(tile.pixel(0, 0)), 0);
  EXPECT_EQ(qAlpha(tile.pixel(ThumbnailCache::kSize / 2, ThumbnailCache::kSize / 2)), 255);
  EXPECT_FALSE(results->grid()->visualRect(results->model()->index(0, 1)).isEmpty());
  window->resize(1100, 700);
  QApplication::processEvents();
  results->thumbnails()->waitForLoads();
  QApplication::processEvents();
  EXPECT_TRUE(saveScreenshot(*window, "results-photos"));

  // The backup browser: the device's folders with tri-state ticks that count as a selection.
  results->categoryList()->setCurrentRow(9);
  auto* browser = window->findChild<BackupBrowserPane*>();
  ASSERT_NE(browser, nullptr);
  QApplication::processEvents();  // the tree is rebuilt once per turn of the event loop
  EXPECT_TRUE(browser->isVisible());
  ASSERT_EQ(browser->treeModel()->rowCount(), 1);
  const QModelIndex device = browser->treeModel()->index(0, 0);
  EXPECT_EQ(device.data().toString(), "Emma's iPhone");
  ASSERT_GT(browser->treeModel()->rowCount(device), 0);
  const QModelIndex domain = browser->treeModel()->index(0, 0, device);
  browser->treeModel()->setData(domain, Qt::Checked, Qt::CheckStateRole);
  EXPECT_EQ(domain.data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(device.data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
  EXPECT_GT(window->results().selectionTotal(), 0);
  browser->tree()->setCurrentIndex(domain);
  window->resize(1100, 700);
  QApplication::processEvents();
  EXPECT_TRUE(saveScreenshot(*window, "results-browser"));
  browser->treeModel()->setData(domain, Qt::Unchecked, Qt::CheckStateRole);
  EXPECT_EQ(window->results().selectionTotal(), 0);

  // Pictures of the results for a person to look at.
  window->resize(1100, 700);
  for (int row : {2, 5}) {
    results->categoryList()->setCurrentRow(row);
    QApplication::processEvents();
    EXPECT_TRUE(saveScreenshot(*window, QString("results-%1").arg(row)));
  }
  results->categoryList()->setCurrentRow(2);

  // Ticking a row counts it; the deleted-only switch narrows the table.
  results->model()->setData(results->model()->index(0, 0), Qt::Checked, Qt::CheckStateRole);
  EXPECT_EQ(window->results().selectedFilesNum, 1);
  EXPECT_TRUE(results->selectionLabel()->isVisible());
  QTest::mouseClick(results->deletedOnlySwitch(), Qt::LeftButton);
  EXPECT_EQ(results->model()->rowCount(), static_cast<int>(contacts.deleted));

  // Search narrows the table (its thread hands the rows over on the main thread); the
  // preview shows the highlighted row.
  QTest::mouseClick(results->deletedOnlySwitch(), Qt::LeftButton);
  results->searchField()->setText("anna");
  QElapsedTimer timer;
  timer.start();
  while (results->model()->rowCount() != 1 && timer.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  EXPECT_EQ(results->model()->rowCount(), 1);
  results->table()->selectRow(0);
  EXPECT_TRUE(results->preview()->toPlainText().contains("Anna"))
      << results->preview()->toPlainText().toStdString();
  // Each number beside its label.
  EXPECT_TRUE(results->preview()->toPlainText().contains(
      QRegularExpression("Mobile\\s+\\+46 70 555 12 34")))
      << results->preview()->toPlainText().toStdString();
  results->searchField()->clear();
  QApplication::processEvents();
  results->categoryList()->setCurrentRow(3);
  results->table()->selectRow(0);
  EXPECT_FALSE(results->preview()->toPlainText().isEmpty());
  // A picture sent in a conversation shows in its bubble.
  bool pictureShown = false;
  for (int row = 0; row < results->model()->rowCount() && !pictureShown; ++row) {
    results->table()->selectRow(row);
    pictureShown = results->preview()->toHtml().contains("<img");
  }
  EXPECT_TRUE(pictureShown);
  EXPECT_TRUE(saveScreenshot(*window, "results-messages-preview"));

  // Ctrl+A ticks the whole category, from the keyboard as the window system delivers it.
  results->categoryList()->setCurrentRow(4);  // notes
  results->table()->setFocus();
  const int before = window->results().selectedFilesNum;
  QTest::keyClick(window->windowHandle(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(window->results().selectedFilesNum, before + results->model()->rowCount());
  EXPECT_TRUE(results->selectAllSwitch()->isChecked());

  // The bytes of the contacts' database, and their export.
  results->categoryList()->setCurrentRow(2);
  TempDir exports;
  results->hexPreview().exportFolder = exports.path();
  std::string opened;
  results->hexPreview().fileOpener = [&opened](const std::string& path) { opened = path; };
  QTest::mouseClick(results->hexButton(), Qt::LeftButton);
  timer.restart();
  while (results->hexView()->toPlainText().isEmpty() && timer.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  EXPECT_TRUE(results->hexView()->isVisible());
  EXPECT_TRUE(results->hexView()->toPlainText().startsWith("SQLite format 3"));
  QTest::mouseClick(results->exportButton(), Qt::LeftButton);
  timer.restart();
  while (opened.empty() && timer.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  EXPECT_EQ(opened, exports.sub("hexFile.txt"));
  EXPECT_EQ(QString::fromStdString(slurp(opened)), results->hexView()->toPlainText());
  QTest::mouseClick(results->hexButton(), Qt::LeftButton);
  EXPECT_FALSE(results->hexView()->isVisible());
  EXPECT_TRUE(results->table()->isVisible());

  // The way back asks first.
  results->askHook = [](const QString&, const QStringList&) { return 0; };
  QTest::mouseClick(results->findChild<QPushButton*>(), Qt::LeftButton);
  EXPECT_FALSE(results->isVisible());
  EXPECT_TRUE(window->button()->isVisible());
}

TEST_F(Shell, ADamagedDatabaseIsNamedInOneDialogAfterTheScan) {
  fixtures::BackupWriter writer(root.sub("damaged"));
  writer.addFile("HomeDomain", "Library/SMS/sms.db", {'S', 'Q', 'L'});
  ASSERT_TRUE(writer.write());
  auto window = open();
  scanSelected(*window, delegate);
  QApplication::processEvents();
  ASSERT_EQ(questions.size(), 1);
  EXPECT_TRUE(questions[0].contains("HomeDomain-Library/SMS/sms.db: cannot read the database"))
      << questions[0].toStdString();
  EXPECT_TRUE(window->resultView()->isVisible());
}

TEST_F(Shell, RecoveringATickedConversationWritesWhatTheCommandLineWrites) {
  const std::string folder = addSample();
  auto window = open();
  scanSelected(*window, delegate);
  ResultsView* results = window->resultView();
  results->categoryList()->setCurrentRow(3);  // messages
  ASSERT_GT(results->model()->rowCount(), 0);
  EXPECT_FALSE(results->recoverButton()->isEnabled());
  results->table()->selectRow(0);
  results->table()->setFocus();
  QTest::keyClick(results->table(), Qt::Key_Space);
  EXPECT_TRUE(results->recoverButton()->isEnabled());

  TempDir out;
  QString proposed;
  window->chooseRecoveryFolder = [&](const QString& p) {
    proposed = p;
    return QString::fromStdString(out.sub("gui"));
  };
  QString revealed;
  window->revealFolder = [&](const QString& f) { revealed = f; };
  // Ctrl+R, as the window system delivers it.
  QTest::keyClick(window->windowHandle(), Qt::Key_R, Qt::ControlModifier);
  EXPECT_TRUE(QFileInfo(proposed).fileName().startsWith("Retrievo ")) << proposed.toStdString();
  EXPECT_EQ(revealed.toStdString(), out.sub("gui"));
  EXPECT_TRUE(questions.isEmpty()) << questions.join("\n").toStdString();

  CommandResult cli =
      runCommand(RETRIEVO_CLI_PATH, {"recover", folder, "--out", out.sub("cli"), "--all", "-q"});
  ASSERT_EQ(cli.exitCode, 0) << cli.err;
  std::set<std::string> written;
  for (const auto& e : std::filesystem::recursive_directory_iterator(out.sub("gui"))) {
    if (!e.is_regular_file()) continue;
    const std::string relative = std::filesystem::relative(e.path(), out.sub("gui")).string();
    written.insert(relative);
    EXPECT_EQ(slurp(e.path().string()), slurp(out.sub("cli/" + relative))) << relative;
  }
  ASSERT_FALSE(written.empty());
  for (const std::string& f : written) EXPECT_EQ(f.rfind("Message/", 0), 0u) << f;
}

TEST_F(Shell, TheResultsSwitchToAnotherBackupOfTheList) {
  fixtures::BackupBuildResult built;
  std::string error;
  ASSERT_TRUE(fixtures::buildSampleBackup(root.sub("first"), {}, &built, &error)) << error;
  addBackup("Work iPad");
  auto window = open();
  QTest::mouseClick(window->itunesBtn(), Qt::LeftButton);
  auto* table = window->scanItunesView()->findChild<QTableView*>();
  ASSERT_EQ(table->model()->rowCount(), 2);
  table->selectRow(table->model()->index(0, 1).data().toString() == "Work iPad" ? 1 : 0);
  scanSelected(*window, delegate);
  ResultsView* results = window->resultView();
  ASSERT_TRUE(results->backupMenu()->isVisible());
  EXPECT_GT(window->results().countsFor(ResultCategory::Contact).live, 0u);
  const int other = results->backupMenu()->findText("Work iPad");
  ASSERT_GE(other, 0);
  results->backupMenu()->setCurrentIndex(other);
  emit results->backupMenu()->activated(other);
  waitForTheScan(*window, delegate);
  ASSERT_TRUE(window->results().currentBackup());
  EXPECT_EQ(window->results().currentBackup()->backUpFilePath, root.sub("Work iPad"));
  EXPECT_EQ(window->results().countsFor(ResultCategory::Contact).live, 0u);
  EXPECT_EQ(results->backupMenu()->currentText(), "Work iPad");
}

// The backup list's time and size columns: the date the backup was made and the size of its
// stored files when the record has them, else the property list's file time and size.
TEST(RecordPreview, ALiveRecordShowsItsEarlierVersionsWithTheirOrigin) {
  auto call = std::make_shared<MzCallHistoryNode>();
  call->callPhone = "+46705551234";
  call->callDuration = "00:02:05";
  RecordHistory history;
  history.add(call.get(),
              {{{"Phone", "+46705551234"}, {"Duration", "00:00:41"}},
               RecordOrigin::carved("call_history.db", 4, 12345, RecordOrigin::Place::Freeblock)});
  const QString html = recordPreviewHtml(call, "", &history);
  EXPECT_TRUE(html.contains("Earlier versions")) << html.toStdString();
  EXPECT_TRUE(html.contains("00:00:41"));
  EXPECT_TRUE(html.contains("page 4, offset 12345 (freeblock)"));
  call->bDeleted = true;  // a deleted record has no history to show
  EXPECT_FALSE(recordPreviewHtml(call, "", &history).contains("Earlier versions"));
}

TEST(BackupListModel, ShowsTheBackupDateAndTheStoredSize) {
  ScopedEnv tz("TZ", "UTC");
  auto copied = std::make_shared<MzIOSDeviceNode>();
  copied->strDeviceBackUpTime = "2024-01-02 03:04";
  copied->strDeviceSize = "900";
  copied->lastBackupDate = fixtures::kBackupUnixTime;
  copied->storedBytes = 2500000;
  auto plain = std::make_shared<MzIOSDeviceNode>(*copied);
  plain->lastBackupDate.reset();
  plain->storedBytes.reset();

  BackupListModel model;
  model.setRows({copied, plain});
  const auto cell = [&](int row, int column) { return model.index(row, column).data().toString(); };
  EXPECT_EQ(cell(0, BackupListModel::BackupTime), "2013-05-31 11:33");
  EXPECT_EQ(cell(0, BackupListModel::Size),
            QLocale().formattedDataSize(2500000, 1, QLocale::DataSizeSIFormat));
  EXPECT_EQ(cell(1, BackupListModel::BackupTime), "2024-01-02 03:04");
  EXPECT_EQ(cell(1, BackupListModel::Size),
            QLocale().formattedDataSize(900, 1, QLocale::DataSizeSIFormat));
}

// Saves a picture of every entry view under the build tree (screenshots/), for a person to
// look at; the pictures must not be empty.
TEST_F(Shell, ScreenshotsOfTheEntryViews) {
  addBackup("Emma's iPhone");
  addBackup("Work iPad");
  auto window = open();
  window->resize(960, 640);
  const auto save = [&](const QString& name) {
    QApplication::processEvents();
    EXPECT_TRUE(saveScreenshot(*window, name)) << name.toStdString();
  };
  save("entry-cloud");
  QTest::mouseClick(window->itunesBtn(), Qt::LeftButton);
  save("entry-backup-folder");
  QTest::mouseClick(window->iOSBtn(), Qt::LeftButton);
  save("entry-device");
}

}  // namespace
