#include "ui/backup_password_dialog.h"

#include <openssl/crypto.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>
#include <atomic>
#include <thread>

#include "catalogue/unlocked_backup.h"

namespace {

// Wipes a password text before it goes.
struct WipedText {
  std::string text;
  ~WipedText() {
    if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  }
};

// Derives the keys in a worker thread while a busy progress dialog keeps the window alive.
UnlockResult unlockWithProgress(QWidget* parent, const std::string& folder,
                                const std::string& password) {
  QProgressDialog progress(QObject::tr("deriving the backup key…"), QString(), 0, 0, parent);
  progress.setWindowTitle(QObject::tr("Encrypted backup"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setCancelButton(nullptr);
  progress.show();
  UnlockResult result;
  std::atomic<bool> done{false};
  QEventLoop loop;
  std::thread worker([&] {
    result = UnlockedBackup::unlock(folder, password);
    done = true;
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  worker.join();
  progress.close();
  return result;
}

}  // namespace

std::optional<std::string> askBackupPassword(QWidget* parent, const QString& message) {
  QDialog dialog(parent);
  dialog.setWindowTitle(QObject::tr("Encrypted backup"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* label = new QLabel(message, &dialog);
  label->setWordWrap(true);
  auto* field = new QLineEdit(&dialog);
  field->setEchoMode(QLineEdit::Password);
  field->setObjectName("backupPassword");
  label->setBuddy(field);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  layout->addWidget(label);
  layout->addWidget(field);
  layout->addWidget(buttons);
  dialog.setMinimumWidth(420);
  field->setFocus();
  const bool accepted = dialog.exec() == QDialog::Accepted;
  std::optional<std::string> password;
  if (accepted) {
    QByteArray bytes = field->text().toUtf8();
    password = std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    OPENSSL_cleanse(bytes.data(), static_cast<std::size_t>(bytes.size()));
  }
  field->clear();
  return password;
}

bool unlockBackupInWindow(QWidget* parent, const std::string& folder, const QString& name,
                          const PasswordPrompts& prompts) {
  if (unlockedBackupFor(folder)) return true;
  QString message =
      QObject::tr("The backup of “%1” is encrypted. Enter its backup password:").arg(name);
  for (;;) {
    std::optional<std::string> answer = prompts.askPassword(message);
    if (!answer) return false;
    WipedText password{std::move(*answer)};
    OPENSSL_cleanse(answer->data(), answer->capacity());
    UnlockResult result = unlockWithProgress(parent, folder, password.text);
    switch (result.status) {
      case UnlockStatus::Unlocked:
        registerUnlockedBackup(std::move(result.backup));
        return true;
      case UnlockStatus::WrongPassword:
        message =
            QObject::tr("Wrong backup password. Enter the backup password of “%1”:").arg(name);
        continue;
      default:
        prompts.tell(QObject::tr("Cannot open the encrypted backup: %1")
                         .arg(QString::fromStdString(result.reason)));
        return false;
    }
  }
}
