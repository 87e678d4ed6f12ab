#include "ui/mz_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <any>
#include <mutex>

#include "app/retrievo_app_delegate.h"
#include "base/paths.h"
#include "catalogue/backup_folder.h"
#include "cloud/download_progress.h"
#include "device/advanced_photo_scan.h"
#include "results/recovery_writer.h"
#include "results/result_view_controller.h"
#include "ui/backup_browser_pane.h"
#include "ui/backup_folder_view.h"
#include "ui/backup_password_dialog.h"
#include "ui/cloud_view.h"
#include "ui/device_panel.h"
#include "ui/mz_button.h"
#include "ui/results_view.h"

namespace {

constexpr QSize kSourceButtonSize(150, 96);
constexpr QSize kScanButtonSize(150, 40);
constexpr QSize kCloseButtonSize(22, 22);

// A panel with a heading and a line of explanation, for the entry views.
QWidget* notePanel(const QString& name, const QString& heading, const QString& note,
                   QWidget* parent) {
  auto* panel = new QWidget(parent);
  panel->setAccessibleName(name);
  auto* layout = new QVBoxLayout(panel);
  auto* title = new QLabel(heading, panel);
  QFont font = title->font();
  font.setPointSizeF(font.pointSizeF() * 1.3);
  font.setBold(true);
  title->setFont(font);
  title->setWordWrap(true);
  auto* text = new QLabel(note, panel);
  text->setWordWrap(true);
  layout->addWidget(title);
  layout->addWidget(text);
  layout->addStretch(1);
  return panel;
}

MzButton* buttonFrom(const std::any& object) {
  const auto* button = std::any_cast<MzButton*>(&object);
  return button != nullptr ? *button : nullptr;
}

}  // namespace

bool CopyDylibToUserDir() { return true; }

MzWindow::MzWindow(RetrievoAppDelegate& delegate, QWidget* parent)
    : QMainWindow(parent), delegate_(delegate) {
  setWindowTitle(tr("Retrievo"));
  setAccessibleName(tr("Retrievo"));
  // The window posts through the delegate's centre; its handlers run on the main thread,
  // where the buttons post.
  observers_.push_back(delegate_.nc.addObserver("MzbuttonMouseEntered", [this](const std::any& o) {
    MzbuttonMouseEnteredHandle(buttonFrom(o));
  }));
  observers_.push_back(delegate_.nc.addObserver("MzbuttonMouseExited", [this](const std::any& o) {
    MzbuttonMouseExitedHandle(buttonFrom(o));
  }));
  observers_.push_back(delegate_.nc.addObserver(
      "MzbuttonMouseDown", [this](const std::any& o) { MzbuttonMouseDownHandle(buttonFrom(o)); }));

  pages_ = new QStackedWidget(this);
  setCentralWidget(pages_);
  buildEntryViews();
  buildMenus();

  delegate_.hideMainView = [this] { hideMainView(); };
  delegate_.showResultView = [this] { showResultView(); };
  connectDeviceSource();

  // Interface loaded: only the cloud view's sign-in panel, then the cloud view.
  scansignInCloudView_->show();
  scanDownloadCloudView_->hide();
  scaniCloudBackupView_->hide();
  scanAnalyCloudView_->hide();
  scanIntType = -1;
  ChangeToICloudView();

  QSettings settings;
  if (!restoreGeometry(settings.value("window/geometry").toByteArray())) resize(960, 640);
}

MzWindow::~MzWindow() {
  stopScan();
  results_->setView(nullptr);
  tree_.setView(nullptr);
  // The results view (and its search) goes before the controller it reads.
  delete resultPage_;
  resultPage_ = nullptr;
  for (std::size_t id : observers_) delegate_.nc.removeObserver(id);
  delegate_.setBackupListView(nullptr);
  delegate_.setCloudEntryView(nullptr);
  delegate_.hideMainView = nullptr;
  delegate_.showResultView = nullptr;
  delegate_.deviceStateChanged = nullptr;
  delegate_.alertNoDevice = nullptr;
  delegate_.deviceBackupFailed = nullptr;
  delegate_.readyToScanDeviceBackup = nullptr;
}

void MzWindow::connectDeviceSource() {
  // Arrival and removal are told on the device event thread: the panels follow on ours.
  delegate_.deviceStateChanged = [this] {
    QMetaObject::invokeMethod(
        this, [this] { refreshDevicePanels(); }, Qt::QueuedConnection);
  };
  delegate_.alertNoDevice = [this] {
    ask(tr("Please connect your iOS device to this Mac. Or recover the files via scanning your "
           "iTunes backup."),
        {tr(" Ok ")});
  };
  delegate_.deviceBackupFailed = [this](const std::string& reason) {
    const QString text = QString::fromStdString(reason);
    QMetaObject::invokeMethod(
        this, [this, text] { ask(text, {tr("OK")}); }, Qt::QueuedConnection);
  };
  delegate_.readyToScanDeviceBackup = [this](const std::string& folder) {
    return readyToScan(folder);
  };
}

void MzWindow::refreshDevicePanels() {
  if (scanIntType == 1) showScanDeviceView();
}

void MzWindow::buildEntryViews() {
  entryPage_ = new QWidget(pages_);
  auto* layout = new QVBoxLayout(entryPage_);
  layout->setContentsMargins(18, 12, 18, 18);

  // The title line: the product's name and the close button.
  auto* titleRow = new QHBoxLayout;
  auto* title = new QLabel(tr("Retrievo \u2014 get your iPhone or iPad data back"), entryPage_);
  QFont titleFont = title->font();
  titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
  titleFont.setBold(true);
  title->setFont(titleFont);
  closeWindowBtn_ = new MzButton(delegate_.nc, tr("Exit Retrievo"), kCloseButtonSize, entryPage_);
  closeWindowBtn_->setImage("titlebarred.png");
  titleRow->addWidget(title, 1);
  titleRow->addWidget(closeWindowBtn_, 0, Qt::AlignTop);
  layout->addLayout(titleRow);

  // The three sources.
  sourceBar_ = new QWidget(entryPage_);
  auto* sources = new QHBoxLayout(sourceBar_);
  sources->setContentsMargins(0, 0, 0, 0);
  iOSBtn_ =
      new MzButton(delegate_.nc, tr("Recover from an iOS device"), kSourceButtonSize, sourceBar_);
  itunesBtn_ =
      new MzButton(delegate_.nc, tr("Recover from a backup folder"), kSourceButtonSize, sourceBar_);
  icloudBtn_ =
      new MzButton(delegate_.nc, tr("Recover from a cloud backup"), kSourceButtonSize, sourceBar_);
  iOSBtn_->setImage("recoveriosdeviceNom.png");
  itunesBtn_->setImage("recoveritunesbackupNom.png");
  icloudBtn_->setImage("recovericloudbackupDown.png");
  sources->addWidget(iOSBtn_);
  sources->addWidget(itunesBtn_);
  sources->addWidget(icloudBtn_);
  sources->addStretch(1);
  layout->addWidget(sourceBar_);

  // The entry views, one shown at a time.
  imageView_ = new QWidget(entryPage_);
  imageView_->setAccessibleName(tr("Entry views"));
  auto* views = new QVBoxLayout(imageView_);
  views->setContentsMargins(0, 8, 0, 0);
  scanDeviceNoDeviceView_ = notePanel(
      tr("No device connected"), tr("No device is connected"),
      tr("Connect your iPhone or iPad with its cable and unlock it. When asked on the device, "
         "trust this computer."),
      imageView_);
  devicePanel_ = new DevicePanel(delegate_.nc, imageView_);
  scanDeviceHasDeviceView_ = devicePanel_;
  scanItunesView_ = new BackupFolderView(delegate_.backupList(), imageView_);
  delegate_.setBackupListView(scanItunesView_);

  cloudView_ = new CloudView(delegate_, imageView_);
  cloudView_->askHook = [this](const QString& message, const QStringList& buttons) {
    return ask(message, buttons);
  };
  delegate_.setCloudEntryView(cloudView_);
  scanIcloudView_ = cloudView_;
  scansignInCloudView_ = cloudView_->signInPanel();
  scanDownloadCloudView_ = cloudView_->downloadPanel();
  scaniCloudBackupView_ = cloudView_->backupListPanel();
  scanAnalyCloudView_ = cloudView_->analysingPanel();

  for (QWidget* w : {scanDeviceNoDeviceView_, scanDeviceHasDeviceView_,
                     static_cast<QWidget*>(scanItunesView_), scanIcloudView_}) {
    views->addWidget(w, 1);
  }
  layout->addWidget(imageView_, 1);

  // The backup-folder view's scan button, under the entry views.
  auto* scanRow = new QHBoxLayout;
  button_ = new MzButton(delegate_.nc, tr("Scan the selected backup"), kScanButtonSize, entryPage_);
  button_->setImage("startscanNom.png");
  button_->setEnabled(false);
  scanItunesView_->setScanButton(button_);
  scanRow->addStretch(1);
  scanRow->addWidget(button_);
  layout->addLayout(scanRow);
  connect(scanItunesView_, &BackupFolderView::scanRequested, this, [this] {
    if (button_->isEnabled() && button_->isVisible()) MzbuttonMouseDownHandle(button_);
  });

  // The results view.
  results_ = std::make_unique<MzResultViewController>(delegate_.nc);
  resultPage_ = new ResultsView(*results_, pages_);
  results_->setView(resultPage_);
  results_->showEntryView = [this] { showMainView(); };
  // The advanced photo scan copies the media of the attached device into /tmp/Photos; run on
  // the results' worker thread, it ends with "ScanAdancedFinished" also when no device is
  // there any more.
  results_->advancedPhotoScan = [this] {
    const auto device = delegate_.attachedDevice();
    if (delegate_.manager == nullptr || !device) {
      delegate_.nc.post("ScanAdancedFinished");
      return;
    }
    scanDiskAidMediaThread(delegate_.nc, *delegate_.manager, device->position, advancedScanFolder,
                           [this] { return stopAdvancedScan_.load(); });
  };
  results_->setBackupBrowserTree(&tree_);
  tree_.currentDeviceName = [this]() -> std::string {
    const auto& backup = results_->currentBackup();
    if (!backup) return {};
    if (!backup->strDeviceName.empty()) return backup->strDeviceName;
    return QFileInfo(QString::fromStdString(backup->backUpFilePath)).fileName().toStdString();
  };
  tree_.selectionChanged = [this] { results_->updateSelectionCount(); };
  browser_ = new BackupBrowserPane(tree_, resultPage_);
  tree_.setView(browser_);
  resultPage_->setBrowserPane(browser_);
  connect(resultPage_, &ResultsView::recoverRequested, this, [this] { actRecovery(); });
  connect(resultPage_, &ResultsView::backupChosen, this, [this](int index) {
    const auto& records = delegate_.GetMzIOSDeviceController().arrangedObjects();
    if (index < 0 || static_cast<std::size_t>(index) >= records.size()) return;
    const auto& chosen = records[static_cast<std::size_t>(index)];
    if (!readyToScan(chosen->backUpFilePath)) {
      showResultView();  // the pop-up shows the backup still shown
      return;
    }
    results_->actSelectBackUpBtn(chosen);
  });
  results_->startScan = [this](const std::shared_ptr<MzIOSDeviceNode>& node) {
    delegate_.setCurrentNodeForScan(node);
    showResultView();
    delegate_.ScanIOSBackFile(node->backUpFilePath);
  };
  resultPage_->askHook = [this](const QString& message, const QStringList& buttons) {
    return ask(message, buttons);
  };

  pages_->addWidget(entryPage_);
  pages_->addWidget(resultPage_);
  pages_->setCurrentWidget(entryPage_);

  // Tab order: the sources, the view's controls, the scan button.
  setTabOrder(iOSBtn_, itunesBtn_);
  setTabOrder(itunesBtn_, icloudBtn_);
}

void MzWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  QAction* quit = file->addAction(tr("&Quit"));
  quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(quit, &QAction::triggered, this, [this] { CloseApplication(); });
  QMenu* help = menuBar()->addMenu(tr("&Help"));
  QAction* manual = help->addAction(tr("Retrievo &Help"));
  manual->setShortcut(QKeySequence::HelpContents);
  connect(manual, &QAction::triggered, this, [this] { showHelp(); });
  // The maker's web pages are settings ("links/homePage", "links/learnMore" in the
  // application's settings file); an entry without an address is not offered.
  const QSettings settings;
  for (const auto& [key, label] : {std::pair{"links/homePage", tr("Retrievo &Home Page")},
                                   std::pair{"links/learnMore", tr("&Learn More Online")}}) {
    const QUrl url(settings.value(key).toString());
    if (!url.isValid() || url.isEmpty()) continue;
    QAction* link = help->addAction(label);
    connect(link, &QAction::triggered, this, [url] { QDesktopServices::openUrl(url); });
  }
  QAction* about = help->addAction(tr("&About Retrievo"));
  connect(about, &QAction::triggered, this, [this] { showAbout(); });
}

void MzWindow::applicationDidFinishLaunching() {
  delegate_.showIphoneDiskView();
  if (QScreen* screen = QGuiApplication::primaryScreen();
      screen && !QSettings().contains("window/geometry")) {
    move(screen->availableGeometry().center() - rect().center());
  }
  CopyDylibToUserDir();
}

QWidget* MzWindow::scanItunesView() const { return scanItunesView_; }

void MzWindow::showScanDeviceView() {
  const bool connected = delegate_.bDeviceHasConnected.load();
  if (const auto device = delegate_.attachedDevice()) {
    devicePanel_->showDevice(device->name, device->model, device->version, device->phoneNumber);
  }
  scanDeviceHasDeviceView_->setVisible(connected);
  scanDeviceNoDeviceView_->setVisible(!connected);
  scanItunesView_->hide();
  scanIcloudView_->hide();
  button_->hide();
  scanIntType = 1;
}

void MzWindow::showScanItunesView() {
  scanDeviceHasDeviceView_->hide();
  scanDeviceNoDeviceView_->hide();
  scanIcloudView_->hide();
  scanItunesView_->show();
  button_->show();
  scanIntType = 2;
}

void MzWindow::showScanICloudView() {
  cloudView_->refreshEarlierDownloads();
  scanDeviceHasDeviceView_->hide();
  scanDeviceNoDeviceView_->hide();
  scanItunesView_->hide();
  scanIcloudView_->show();
  button_->hide();
  scanIntType = 3;
}

void MzWindow::hideMainView() {
  for (QWidget* w : {imageView_, static_cast<QWidget*>(button_), sourceBar_}) w->hide();
}

void MzWindow::showMainView() {
  for (QWidget* w : {imageView_, sourceBar_}) w->show();
  button_->setVisible(scanIntType == 2);
  pages_->setCurrentWidget(entryPage_);
}

void MzWindow::showResultView() {
  // The scan about to start files into a fresh results controller state; it reports its
  // end on the main thread.
  results_->setDeviceMode(delegate_.bIOSRecoveryMode);
  results_->setCurrentBackup(delegate_.currentNode);
  results_->prepareForScan();
  tree_.releaseTree();
  delegate_.ScanThreadFinish = [this] {
    results_->ScanThreadFinish();
    // Named once the results are up, from the main thread, never from the scan's.
    QMetaObject::invokeMethod(
        this, [this] { showScanProblems(); }, Qt::QueuedConnection);
  };
  // The pop-up of the backups, the one being scanned chosen; a device's fresh backup is not
  // one of the backup list's.
  QStringList names;
  int current = -1;
  static const std::vector<std::shared_ptr<MzIOSDeviceNode>> kNone;
  const auto& records =
      delegate_.bIOSRecoveryMode ? kNone : delegate_.GetMzIOSDeviceController().arrangedObjects();
  for (std::size_t i = 0; i < records.size(); ++i) {
    names << QString::fromStdString(records[i]->strDeviceName.empty() ? records[i]->backUpFilePath
                                                                      : records[i]->strDeviceName);
    if (delegate_.currentNode &&
        records[i]->backUpFilePath == delegate_.currentNode->backUpFilePath) {
      current = static_cast<int>(i);
    }
  }
  resultPage_->setBackupChoices(names, current);
  pages_->setCurrentWidget(resultPage_);
}

void MzWindow::showScanProblems() {
  const std::vector<ScanProblem> problems = delegate_.scanProblems.problems();
  if (problems.empty()) return;
  QStringList lines;
  for (std::size_t i = 0; i < problems.size() && i < 12; ++i) {
    lines << QString::fromStdString(problems[i].file + ": " + problems[i].reason);
  }
  if (problems.size() > 12) lines << tr("and %1 more").arg(problems.size() - 12);
  const bool nothingRead =
      delegate_.scanProblems.environmentFailed() && delegate_.databasesCopied() == 0;
  ask((nothingRead ? tr("The scan could read no database.")
                   : tr("Some of the backup could not be read; the results show what could.")) +
          "\n\n" + lines.join("\n"),
      {tr("OK")});
}

void MzWindow::stopScan() {
  // The scan thread waits on the main thread for its progress and its end: keep the event
  // loop turning until it has stopped, then join it.
  delegate_.shouldStopScan = [] { return true; };
  delegate_.stopDeviceBackup();
  cloud::requestDownloadStop();
  stopAdvancedScan_.store(true);
  while (delegate_.scanRunning() || delegate_.deviceBackupRunning() ||
         results_->advancedScanRunning() || delegate_.cloudThreadsRunning()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  delegate_.waitForCloudThreads();
  delegate_.waitForDeviceBackup();
  delegate_.waitForScan();
  delegate_.shouldStopScan = nullptr;
}

void MzWindow::setSourceImages(MzButton* down) {
  iOSBtn_->setImage(down == iOSBtn_ ? "recoveriosdeviceDown.png" : "recoveriosdeviceNom.png");
  itunesBtn_->setImage(down == itunesBtn_ ? "recoveritunesbackupDown.png"
                                          : "recoveritunesbackupNom.png");
  icloudBtn_->setImage(down == icloudBtn_ ? "recovericloudbackupDown.png"
                                          : "recovericloudbackupNom.png");
}

void MzWindow::MzbuttonMouseEnteredHandle(MzButton* button) {
  if (button == itunesBtn_) itunesBtn_->setImage("recoveritunesbackupDown.png");
  if (button == iOSBtn_) iOSBtn_->setImage("recoveriosdeviceDown.png");
}

void MzWindow::MzbuttonMouseExitedHandle(MzButton* button) {
  // Hovering lights a source up; leaving it puts back the face of the view shown.
  if (button == itunesBtn_ && scanIntType != 2) itunesBtn_->setImage("recoveritunesbackupNom.png");
  if (button == iOSBtn_ && scanIntType != 1) iOSBtn_->setImage("recoveriosdeviceNom.png");
}

void MzWindow::MzbuttonMouseDownHandle(MzButton* button) {
  if (button == nullptr) return;
  if (button == itunesBtn_) {
    setSourceImages(itunesBtn_);
    ChangeToItunesView();
  } else if (button == iOSBtn_) {
    setSourceImages(iOSBtn_);
    ChangeToDeviceView();
  } else if (button == icloudBtn_) {
    setSourceImages(icloudBtn_);
    ChangeToICloudView();
  } else if (button == closeWindowBtn_) {
    closeWindowBtn_->setImage("titlebarreddown.png");
    CloseApplication();
  } else if (button == devicePanel_->startScanButton()) {
    button->setImage("StartScan_Down.png");
    delegate_.StartScanIOSDeviceAction();
    button->setImage("StartScan_Norm.png");
  } else if (button == button_) {
    button_->setImage("startscanDown.png");
    // A folder that is gone, not a backup or encrypted gets one message and no scan.
    const auto row = delegate_.backupList().selectedRow();
    const auto& records = delegate_.GetMzIOSDeviceController().arrangedObjects();
    if (row && *row < records.size() && records[*row]) {
      if (!readyToScan(records[*row]->backUpFilePath)) {
        button_->setImage("startscanNom.png");
        return;
      }
    }
    delegate_.actScanIOSBackupFile();
    button_->setImage("startscanNom.png");
  }
}

bool MzWindow::readyToScan(const std::string& folder) {
  const BackupFolderKind kind = classifyBackupFolder(folder);
  if (kind == BackupFolderKind::Backup) return true;
  if (kind == BackupFolderKind::EncryptedBackup) {
    PasswordPrompts prompts;
    prompts.askPassword = askPassword ? askPassword : [this](const QString& message) {
      return askBackupPassword(this, message);
    };
    prompts.tell = [this](const QString& message) { ask(message, {tr("OK")}); };
    QString name = QFileInfo(QString::fromStdString(folder)).fileName();
    for (const auto& record : delegate_.GetMzIOSDeviceController().arrangedObjects()) {
      if (record && record->backUpFilePath == folder && !record->strDeviceName.empty()) {
        name = QString::fromStdString(record->strDeviceName);
      }
    }
    return unlockBackupInWindow(this, folder, name, prompts);
  }
  ask(QString::fromStdString(backupFolderProblem(kind, folder)), {tr("OK")});
  return false;
}

int MzWindow::ask(const QString& message, const QStringList& buttons) {
  if (askQuestion) return askQuestion(message, buttons);
  QMessageBox box(QMessageBox::Question, tr("Retrievo"), message, QMessageBox::NoButton, this);
  QList<QAbstractButton*> added;
  for (int i = 0; i < buttons.size(); ++i) {
    added.push_back(
        box.addButton(buttons[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
  }
  if (!added.isEmpty()) box.setDefaultButton(qobject_cast<QPushButton*>(added.first()));
  box.exec();
  const int pressed = static_cast<int>(added.indexOf(box.clickedButton()));
  return pressed < 0 ? static_cast<int>(buttons.size()) - 1 : pressed;
}

void MzWindow::CloseApplication() {
  if (ask(tr("Are you sure you want to Exit ?"), {tr(" Exit "), tr("Cancel")}) == 1) {
    closeWindowBtn_->setImage("titlebarred.png");
    return;
  }
  quitting_ = true;
  close();
  QApplication::quit();
}

bool MzWindow::windowShouldClose() {
  return ask(tr("Are you sure you want to Exit ?"), {tr(" Exit "), tr("Cancel")}) != 1;
}

void MzWindow::closeEvent(QCloseEvent* event) {
  if (!quitting_ && !windowShouldClose()) {
    event->ignore();
    return;
  }
  QSettings().setValue("window/geometry", saveGeometry());
  stopScan();
  event->accept();
}

void MzWindow::actRecovery() {
  if (writer_ || !results_->bScanFinished || results_->selectionTotal() == 0) return;
  const QDateTime now = QDateTime::currentDateTime();
  const QString proposed =
      QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/" +
      tr("Retrievo %1 - %2").arg(now.toString("yyyy-MM-dd"), now.toString("HH.mm.ss"));
  const QString folder =
      chooseRecoveryFolder
          ? chooseRecoveryFolder(proposed)
          : QFileDialog::getSaveFileName(this, tr("Recover the ticked items into"), proposed);
  if (folder.isEmpty()) return;
  const auto& backup = results_->currentBackup();
  if (backup && isInsideFolder(folder.toStdString(), backup->backUpFilePath)) {
    ask(tr("The recovered items cannot be written inside the backup folder. Choose a folder "
           "outside it."),
        {tr("OK")});
    return;
  }

  writer_ = std::make_unique<MzRecoveryWriter>(*results_);
  writer_->treeRoots = tree_.roots();
  std::mutex stepMutex;
  QString step;
  bool finished = false;
  RecoveryReport report;
  writer_->onProgress = [&](const RecoveryProgress& p) {
    std::lock_guard lock(stepMutex);
    step = QString::fromStdString(p.step);
  };
  writer_->onFinished = [&](const RecoveryReport& r) {
    report = r;
    finished = true;
  };
  QProgressDialog sheet(tr("Recovering\u2026"), QString(), 0, 100, this);
  sheet.setWindowTitle(tr("Recover"));
  sheet.setWindowModality(Qt::WindowModal);
  sheet.setMinimumDuration(0);
  sheet.setAutoClose(false);
  sheet.setAutoReset(false);
  sheet.setValue(0);
  QTimer timer;
  timer.setInterval(1000);
  connect(&timer, &QTimer::timeout, &sheet, [&] {
    std::lock_guard lock(stepMutex);
    sheet.setValue(writer_->progressPercent());
    sheet.setLabelText(step.isEmpty() ? tr("Recovering\u2026") : tr("Writing %1\u2026").arg(step));
  });
  timer.start();
  writer_->start(folder.toStdString());
  while (!finished)
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  timer.stop();
  writer_->wait();
  writer_.reset();
  sheet.close();

  if (!report.issues.empty()) {
    QStringList lines;
    for (std::size_t i = 0; i < report.issues.size() && i < 12; ++i) {
      lines << QString::fromStdString(report.issues[i].item + ": " + report.issues[i].reason);
    }
    if (report.issues.size() > 12) lines << tr("and %1 more").arg(report.issues.size() - 12);
    ask(tr("%1 items were written in full; these were not:\n\n%2\n\nEverything that was "
           "written is in %3.")
            .arg(report.writtenInFull())
            .arg(lines.join("\n"), folder),
        {tr("OK")});
  }
  if (revealFolder) {
    revealFolder(folder);
  } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder))) {
    ask(tr("The recovered items are in %1").arg(folder), {tr("OK")});
  }
}

void MzWindow::showAbout() {
  QMessageBox::about(this, tr("About Retrievo"),
                     tr("<b>Retrievo %1</b><p>Gets an iPhone or iPad owner's data back from "
                        "device backups: contacts, messages, calls, notes, bookmarks, calendar "
                        "events, photos and videos, and the records deleted from them.</p>")
                         .arg(QStringLiteral(RETRIEVO_VERSION)));
}

void MzWindow::showHelp() {
  // The README installed beside the program, else the one of the source tree it was built in.
  const QStringList candidates = {
      QApplication::applicationDirPath() + "/../share/doc/retrievo/README.md",
      QStringLiteral(RETRIEVO_SOURCE_README)};
  for (const QString& path : candidates) {
    if (QFileInfo::exists(path)) {
      QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).canonicalFilePath()));
      return;
    }
  }
}
