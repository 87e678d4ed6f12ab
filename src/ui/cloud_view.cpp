#include "ui/cloud_view.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/retrievo_app_delegate.h"

namespace {

constexpr int kBarSteps = 1000;

QLabel* heading(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setPointSizeF(font.pointSizeF() * 1.3);
  font.setBold(true);
  label->setFont(font);
  label->setWordWrap(true);
  return label;
}

// A progress bar that only shows that something is under way.
QProgressBar* busyBar(const QString& name, QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setAccessibleName(name);
  bar->setRange(0, 0);
  bar->setTextVisible(false);
  bar->setMaximumWidth(160);
  bar->hide();
  return bar;
}

QString text(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

CloudView::CloudView(RetrievoAppDelegate& delegate, QWidget* parent)
    : QWidget(parent), delegate_(delegate) {
  setAccessibleName(tr("Cloud backups"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  buildSignIn();
  buildList();
  buildDownload();
  buildAnalysing();
  for (QWidget* w : {signIn_, list_, download_, analysing_}) layout->addWidget(w, 1);
  cloudStateChanged(delegate_.cloudViewState());
}

void CloudView::buildSignIn() {
  signIn_ = new QWidget(this);
  signIn_->setAccessibleName(tr("Sign in to the cloud"));
  signIn_->setMaximumWidth(620);
  auto* form = new QFormLayout(signIn_);
  auto* note = new QLabel(
      tr("Sign in with your Apple ID to list the backups of your devices in the cloud. Your "
         "password is used for this sign-in only and is never stored."),
      signIn_);
  note->setWordWrap(true);
  form->addRow(heading(tr("Recover from a cloud backup"), signIn_));
  form->addRow(note);
  account_ = new QLineEdit(signIn_);  // icloudAppleIDlab
  account_->setAccessibleName(tr("Apple ID"));
  account_->setPlaceholderText(tr("name@example.com"));
  password_ = new QLineEdit(signIn_);  // icloudApplePasswordlab
  password_->setAccessibleName(tr("Password"));
  password_->setEchoMode(QLineEdit::Password);
  form->addRow(tr("Apple &ID:"), account_);
  form->addRow(tr("&Password:"), password_);

  auto* row = new QHBoxLayout;
  logIn_ = new QPushButton(tr("Sign &In"), signIn_);  // icloudLogInBtn
  logIn_->setAccessibleName(tr("Sign in"));
  loginBusy_ = busyBar(tr("Signing in"), signIn_);                        // loginProgressor
  forget_ = new QPushButton(tr("Forget Apple ID or password"), signIn_);  // forgetAppleIDBtn
  forget_->setFlat(true);
  forget_->setCursor(Qt::PointingHandCursor);
  forget_->setStyleSheet("QPushButton { color: palette(link); text-decoration: underline; }");
  row->addWidget(logIn_);
  row->addWidget(loginBusy_);
  row->addWidget(forget_);
  row->addStretch(1);
  form->addRow(QString(), row);
  incorrect_ = new QLabel(tr("The Apple ID or password is incorrect."), signIn_);
  incorrect_->setStyleSheet("color: #c0392b;");
  incorrect_->setAccessibleName(tr("Incorrect information"));
  form->addRow(QString(), incorrect_);
  earlierDownloads_ = new QPushButton(tr("Show &Earlier Downloads"), signIn_);
  earlierDownloads_->setAccessibleName(tr("Earlier downloads"));
  earlierDownloads_->setToolTip(tr("The cloud backups downloaded before, without signing in"));
  auto* earlierRow = new QHBoxLayout;
  earlierRow->addWidget(earlierDownloads_);
  earlierRow->addStretch(1);
  form->addRow(QString(), earlierRow);

  connect(logIn_, &QPushButton::clicked, this, [this] {
    if (!account_->text().isEmpty() && !password_->text().isEmpty()) delegate_.PressLoginiCloud();
  });
  connect(password_, &QLineEdit::returnPressed, this,
          [this] { delegate_.ReturnOnPasswordField(); });
  connect(account_, &QLineEdit::returnPressed, this, [this] {
    if (password_->text().isEmpty()) {
      password_->setFocus();
    } else {
      delegate_.ReturnOnPasswordField();
    }
  });
  for (QLineEdit* field : {account_, password_}) {
    connect(field, &QLineEdit::textChanged, this, [this] { delegate_.controlTextDidChange(); });
  }
  connect(forget_, &QPushButton::clicked, this, [this] { delegate_.ClickForgetAppleID(); });
  connect(earlierDownloads_, &QPushButton::clicked, this,
          [this] { delegate_.ScanPreviouDownloadBackupFile(); });
}

void CloudView::buildList() {
  list_ = new QWidget(this);
  list_->setAccessibleName(tr("Cloud backup list"));
  auto* layout = new QVBoxLayout(list_);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* top = new QHBoxLayout;
  top->addWidget(heading(tr("Your cloud backups"), list_), 1);
  storedAppleId_ = new QLabel(list_);  // storedAppleIdlab
  storedAppleId_->setAccessibleName(tr("Account"));
  signButton_ = new QPushButton(list_);  // logoutButton
  top->addWidget(storedAppleId_);
  top->addWidget(signButton_);
  layout->addLayout(top);
  listNote_ = new QLabel(tr("Choose a backup and press Download (or Enter); a downloaded backup "
                            "is scanned with Scan."),
                         list_);
  listNote_->setWordWrap(true);
  layout->addWidget(listNote_);
  table_ = new QTableWidget(0, 6, list_);  // iCloudTableView
  table_->setAccessibleName(tr("Cloud backups"));
  table_->setHorizontalHeaderLabels(
      {tr("Name"), tr("Backup Date"), tr("Size"), tr("iOS"), tr("Serial"), tr("State")});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(false);
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  table_->installEventFilter(this);
  layout->addWidget(table_, 1);
  connect(signButton_, &QPushButton::clicked, this, [this] { delegate_.logoutiCloudAction(); });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { actOnRow(row); });
}

void CloudView::buildDownload() {
  download_ = new QWidget(this);
  download_->setAccessibleName(tr("Downloading"));
  auto* layout = new QVBoxLayout(download_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(heading(tr("Downloading the cloud backup"), download_));
  progressLabel_ = new QLabel(download_);  // iCloudProgressInfolab
  progressLabel_->setWordWrap(true);
  progressLabel_->setAccessibleName(tr("Download progress"));
  bar_ = new QProgressBar(download_);  // iCloudScanprogressor
  bar_->setAccessibleName(tr("Downloaded"));
  bar_->setRange(0, kBarSteps);
  auto* row = new QHBoxLayout;
  circle_ = busyBar(tr("Working"), download_);  // iCloudCricleProgressor
  stop_ = new QPushButton(tr("&Stop"), download_);
  stop_->setAccessibleName(tr("Stop the download"));
  row->addWidget(circle_);
  row->addStretch(1);
  row->addWidget(stop_);
  layout->addWidget(progressLabel_);
  layout->addWidget(bar_);
  layout->addLayout(row);
  layout->addStretch(1);
  stop_->installEventFilter(this);
  connect(stop_, &QPushButton::clicked, this,
          [this] { delegate_.StopDownloadiCloudBackupAction(); });
}

void CloudView::buildAnalysing() {
  analysing_ = new QWidget(this);
  analysing_->setAccessibleName(tr("Reading the download"));
  auto* layout = new QVBoxLayout(analysing_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(heading(tr("Reading what has been downloaded"), analysing_));
  stopBusy_ = busyBar(tr("Reading"), analysing_);  // iCloudStopProgressor
  layout->addWidget(stopBusy_);
  layout->addStretch(1);
}

std::string CloudView::accountField() const { return account_->text().toStdString(); }
std::string CloudView::passwordField() const { return password_->text().toStdString(); }

void CloudView::clearFields() {
  account_->clear();
  password_->clear();
}

void CloudView::cloudStateChanged(const CloudViewState& state) {
  signIn_->setVisible(state.panel == CloudPanel::SignIn);
  list_->setVisible(state.panel == CloudPanel::BackupList);
  download_->setVisible(state.panel == CloudPanel::Download);
  analysing_->setVisible(state.panel == CloudPanel::Analysing);
  loginBusy_->setVisible(state.loginBusy);
  incorrect_->setVisible(state.incorrectInfoShown);
  forget_->setVisible(state.forgetLinkShown);
  // The sign-in button is offered while both fields hold text, and not during a sign-in.
  logIn_->setEnabled(state.logInButtonShown && !state.loginBusy);
  storedAppleId_->setText(text(state.storedAppleId));
  storedAppleId_->setVisible(state.storedAppleIdShown);
  const bool signIn = state.signButtonImage == "Signin.png";
  signButton_->setText(signIn ? tr("Sign &In") : tr("Sign &Out"));
  signButton_->setAccessibleName(signIn ? tr("Sign in") : tr("Sign out"));
  bar_->setValue(static_cast<int>(std::clamp(state.downloadFraction, 0.0f, 1.0f) * kBarSteps));
  progressLabel_->setText(text(state.downloadLabel));
  circle_->setVisible(state.circleBusy);
  stopBusy_->setVisible(state.stopBusy);
  if (state.panel == CloudPanel::SignIn) refreshEarlierDownloads();
  if (state.panel == CloudPanel::Download) stop_->setFocus();
}

void CloudView::refreshEarlierDownloads() {
  earlierDownloads_->setVisible(delegate_.bICloudBackuphasDownload());
}

void CloudView::backupListChanged() {
  const auto& records = delegate_.icloudDeviceController().arrangedObjects();
  table_->setRowCount(static_cast<int>(records.size()));
  for (std::size_t i = 0; i < records.size(); ++i) {
    const MzIOSDeviceNode& node = *records[i];
    const int row = static_cast<int>(i);
    const bool pad = node.deviceImage && *node.deviceImage == "ipad";
    auto* name = new QTableWidgetItem(
        QApplication::style()->standardIcon(pad ? QStyle::SP_ComputerIcon : QStyle::SP_DriveHDIcon),
        text(node.strDeviceName));
    name->setData(Qt::AccessibleTextRole, text(node.strDeviceName) + (pad ? ", iPad" : ", iPhone"));
    table_->setItem(row, 0, name);
    table_->setItem(row, 1, new QTableWidgetItem(text(node.strDeviceBackUpTime)));
    table_->setItem(row, 2, new QTableWidgetItem(text(node.strDeviceSize)));
    table_->setItem(row, 3, new QTableWidgetItem(text(node.strIOSVersion)));
    table_->setItem(row, 4, new QTableWidgetItem(text(node.strDeviceSerial)));
    auto* state = new QPushButton(node.haveDownload ? tr("Scan") : tr("Download"), table_);
    state->setAccessibleName(node.haveDownload ? tr("Scan this download")
                                               : tr("Download this backup"));
    state->setFocusPolicy(Qt::NoFocus);  // the row takes Return instead
    connect(state, &QPushButton::clicked, this, [this, row] { actOnRow(row); });
    table_->setCellWidget(row, 5, state);
  }
  table_->resizeColumnsToContents();
  table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  if (!records.empty() && table_->currentRow() < 0) table_->selectRow(0);
  listNote_->setText(records.empty() ? tr("No backups are listed.")
                                     : tr("Choose a backup and press Download (or Enter); a "
                                          "downloaded backup is scanned with Scan."));
  if (list_->isVisible()) table_->setFocus();
}

std::optional<std::size_t> CloudView::selectedBackupRow() const {
  const int row = table_->currentRow();
  if (row < 0 || table_->selectionModel()->selectedRows().isEmpty()) return std::nullopt;
  return static_cast<std::size_t>(row);
}

void CloudView::actOnRow(int row) {
  const auto& records = delegate_.icloudDeviceController().arrangedObjects();
  if (row < 0 || static_cast<std::size_t>(row) >= records.size()) return;
  table_->selectRow(row);
  if (records[static_cast<std::size_t>(row)]->haveDownload) {
    delegate_.ScaniCloudBackupFiles();
  } else {
    delegate_.StartDownloadiCloudBackup();
  }
}

void CloudView::openPasswordRecoveryPage(const std::string& address) {
  QDesktopServices::openUrl(QUrl(text(address)));
}

void CloudView::alertDownloadFailed() {
  if (askHook) {
    askHook(tr("Failed to download the iCloud backup, please try again or later."), {tr(" Ok ")});
  }
}

bool CloudView::confirmStopDownload() {
  if (!askHook) return true;
  return askHook(tr("Downloading process cannot be resumed at this stage. If stopped you can only "
                    "view the data downloaded. Are you sure to stop the Downloading?"),
                 {tr(" Stop "), tr("Cancel")}) == 0;
}

bool CloudView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == table_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      actOnRow(table_->currentRow());
      return true;
    }
    if (watched == stop_ && key == Qt::Key_Escape) {
      delegate_.StopDownloadiCloudBackupAction();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
