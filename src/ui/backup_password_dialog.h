// Opening an encrypted backup in the window: a password dialog, then the key derivation in a
// worker thread under a busy progress dialog ("deriving the backup key…"). A wrong password
// asks again; cancel gives up and leaves the backup list as it was.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

// What the window asks with; tests put their own answers in.
struct PasswordPrompts {
  // Asks for the password with `message`; none when the user cancels. The caller wipes the
  // text it gets once it is used.
  std::function<std::optional<std::string>(const QString& message)> askPassword;
  // Shows a message with one OK button.
  std::function<void(const QString& message)> tell;
};

// Unlocks the encrypted backup in `folder`, called `name` in the questions (nothing to do when
// it was unlocked before in this run), and keeps its keys for the scan and the recovery. True
// when the backup can be read.
bool unlockBackupInWindow(QWidget* parent, const std::string& folder, const QString& name,
                          const PasswordPrompts& prompts);

// The password dialog itself: a password field with echo off, OK and Cancel.
std::optional<std::string> askBackupPassword(QWidget* parent, const QString& message);
