// The cloud entry view: the sign-in panel, the account's backup list, the download panel with
// its bar, label and stop button, and the panel shown while a stopped download is handed to
// the scan. It shows what the delegate's CloudViewState says and hands the user's actions to
// the delegate's cloud handlers.
//
// Keyboard: Return in the password field signs in when both fields hold text; in the backup
// list, Return on a row downloads it (or scans it when it is downloaded); Escape in the
// download panel asks to stop.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "app/cloud_entry_view.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class RetrievoAppDelegate;

class CloudView : public QWidget, public CloudEntryView {
  Q_OBJECT

 public:
  explicit CloudView(RetrievoAppDelegate& delegate, QWidget* parent = nullptr);

  // The four panels (scansignInCloudView, scaniCloudBackupView, scanDownloadCloudView,
  // scanAnalyCloudView).
  QWidget* signInPanel() const { return signIn_; }
  QWidget* backupListPanel() const { return list_; }
  QWidget* downloadPanel() const { return download_; }
  QWidget* analysingPanel() const { return analysing_; }
  QTableWidget* backupTable() const { return table_; }
  QLineEdit* accountEdit() const { return account_; }
  QLineEdit* passwordEdit() const { return password_; }

  // Shows the earlier-downloads button when downloads are kept (bICloudBackuphasDownload).
  void refreshEarlierDownloads();
  // Hooks for the alerts (the window's question dialog); none: the alert is not shown and
  // the stop question answers " Stop ".
  std::function<int(const QString& message, const QStringList& buttons)> askHook;

  // CloudEntryView
  std::string accountField() const override;
  std::string passwordField() const override;
  void clearFields() override;
  void cloudStateChanged(const CloudViewState& state) override;
  void backupListChanged() override;
  std::optional<std::size_t> selectedBackupRow() const override;
  void openPasswordRecoveryPage(const std::string& address) override;
  void alertDownloadFailed() override;
  bool confirmStopDownload() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildSignIn();
  void buildList();
  void buildDownload();
  void buildAnalysing();
  // The row's state action: download it, or scan it when it is downloaded.
  void actOnRow(int row);

  RetrievoAppDelegate& delegate_;
  QWidget* signIn_ = nullptr;
  QWidget* list_ = nullptr;
  QWidget* download_ = nullptr;
  QWidget* analysing_ = nullptr;
  QLineEdit* account_ = nullptr;
  QLineEdit* password_ = nullptr;
  QPushButton* logIn_ = nullptr;
  QProgressBar* loginBusy_ = nullptr;
  QLabel* incorrect_ = nullptr;
  QPushButton* forget_ = nullptr;
  QPushButton* earlierDownloads_ = nullptr;
  QLabel* storedAppleId_ = nullptr;
  QPushButton* signButton_ = nullptr;
  QTableWidget* table_ = nullptr;
  QLabel* listNote_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QProgressBar* circle_ = nullptr;
  QLabel* progressLabel_ = nullptr;
  QPushButton* stop_ = nullptr;
  QProgressBar* stopBusy_ = nullptr;
};
