// What the cloud entry view shows, and the calls the cloud source makes on it.
//
// The delegate keeps a CloudViewState and hands the whole of it to the view after every
// change, on the main thread. The view reads its two text fields and its selected row when
// asked, and answers the two alerts of a download.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

// The four panels of the cloud entry view; one is shown at a time.
enum class CloudPanel {
  SignIn,      // scansignInCloudView
  BackupList,  // scaniCloudBackupView
  Download,    // scanDownloadCloudView
  Analysing,   // scanAnalyCloudView
};

struct CloudViewState {
  CloudPanel panel = CloudPanel::SignIn;
  bool loginBusy = false;           // loginProgressor shown and turning
  bool incorrectInfoShown = false;  // incorrectInfolab
  bool forgetLinkShown = false;     // forgetAppleIDBtn
  bool logInButtonShown = false;    // icloudLogInBtn
  std::string storedAppleId;        // storedAppleIdlab: the account the list belongs to
  bool storedAppleIdShown = false;
  std::string signButtonImage = "Signin.png";  // logoutButton: "Signin.png" or "logout_Nom.png"
  float downloadFraction = 0.0f;               // iCloudScanprogressor, 0 to 1
  std::string downloadLabel;                   // iCloudProgressInfolab
  bool circleBusy = false;                     // iCloudCricleProgressor turning
  bool stopBusy = false;                       // iCloudStopProgressor turning
};

class CloudEntryView {
 public:
  virtual ~CloudEntryView() = default;

  // The account and password fields as typed.
  virtual std::string accountField() const = 0;
  virtual std::string passwordField() const = 0;
  // Empties both fields.
  virtual void clearFields() = 0;

  // Shows `state`.
  virtual void cloudStateChanged(const CloudViewState& state) = 0;
  // The rows of the cloud catalogue changed (refilled or a record's state changed).
  virtual void backupListChanged() = 0;
  // The selected row of the backup table, none when no row is selected.
  virtual std::optional<std::size_t> selectedBackupRow() const = 0;

  // Opens the cloud provider's password-recovery page in the browser.
  virtual void openPasswordRecoveryPage(const std::string& address) = 0;
  // "Failed to download the iCloud backup, please try again or later." with " Ok ".
  virtual void alertDownloadFailed() = 0;
  // "Downloading process cannot be resumed at this stage. …" with " Stop " and "Cancel";
  // true for " Stop ".
  virtual bool confirmStopDownload() = 0;
};
