#include "cli/backup_password.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "catalogue/unlocked_backup.h"
#include "cli/commands.h"
#include "cli/terminal_text.h"

namespace cli {
namespace {

// A password held in a fixed buffer that is wiped when it goes, so no copy of it is left
// behind by a growing string.
class Secret {
 public:
  static constexpr std::size_t kCapacity = 1024;
  Secret() = default;
  ~Secret() { OPENSSL_cleanse(bytes_, sizeof bytes_); }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;

  char* data() { return bytes_; }
  std::size_t size() const { return size_; }
  void setSize(std::size_t n) { size_ = n < kCapacity ? n : kCapacity; }
  std::string_view view() const { return {bytes_, size_}; }

  // Ends the text at its first line break.
  void cutAtLineEnd() {
    for (std::size_t i = 0; i < size_; ++i) {
      if (bytes_[i] == '\n' || bytes_[i] == '\r') {
        size_ = i;
        break;
      }
    }
  }

 private:
  char bytes_[kCapacity] = {};
  std::size_t size_ = 0;
};

// Reads up to the capacity from `fd` into `secret`; false when reading fails.
bool readInto(int fd, Secret& secret) {
  std::size_t done = 0;
  while (done < Secret::kCapacity) {
    const ssize_t n = ::read(fd, secret.data() + done, Secret::kCapacity - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
    if (std::memchr(secret.data(), '\n', done) != nullptr) break;
  }
  secret.setSize(done);
  secret.cutAtLineEnd();
  return true;
}

// Asks on the terminal with echo off. False when there is no terminal to ask on: the input is
// not a terminal (a pipe, a script) or the process has none.
bool promptForPassword(const std::string& prompt, Secret& secret) {
  if (::isatty(STDIN_FILENO) != 1) return false;
  const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) return false;
  if (::isatty(tty) != 1) {
    ::close(tty);
    return false;
  }
  if (::write(tty, prompt.data(), prompt.size()) < 0) {
    ::close(tty);
    return false;
  }
  termios saved{};
  const bool haveTermios = ::tcgetattr(tty, &saved) == 0;
  if (haveTermios) {
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(tty, TCSAFLUSH, &quiet);
  }
  const bool read = readInto(tty, secret);
  if (haveTermios) ::tcsetattr(tty, TCSAFLUSH, &saved);
  ::close(tty);
  return read;
}

enum class PasswordSource { File, Environment, Prompt, None, Unreadable };

PasswordSource obtainPassword(const std::string& prompt, const char* variable,
                              const std::string& passwordFile, Secret& secret,
                              std::string* problem) {
  if (!passwordFile.empty()) {
    const int fd = ::open(passwordFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !readInto(fd, secret)) {
      *problem = "cannot read the password file: " + terminalSafe(passwordFile) + " (" +
                 std::strerror(errno) + ")";
      if (fd >= 0) ::close(fd);
      return PasswordSource::Unreadable;
    }
    ::close(fd);
    return PasswordSource::File;
  }
  if (char* env = std::getenv(variable); env != nullptr) {
    const std::size_t n = std::strlen(env);
    std::memcpy(secret.data(), env, std::min(n, Secret::kCapacity));
    secret.setSize(n);
    // The process's own copy of the variable goes as well: nothing started later inherits it.
    OPENSSL_cleanse(env, n);
    ::unsetenv(variable);
    return PasswordSource::Environment;
  }
  if (promptForPassword(prompt, secret)) return PasswordSource::Prompt;
  return PasswordSource::None;
}

}  // namespace

void addPasswordOption(CLI::App* cmd, std::string& target) {
  cmd->add_option("--password-file", target,
                  "For an encrypted backup: read its password from the first line of FILE "
                  "(else from RETRIEVO_BACKUP_PASSWORD, else asked on the terminal)");
}

int unlockBackupFolder(const std::string& folder, const std::string& passwordFile) {
  if (unlockedBackupFor(folder)) return kExitOk;
  Secret secret;
  std::string problem;
  switch (obtainPassword("Password of the encrypted backup " + terminalSafe(folder) + ": ",
                         "RETRIEVO_BACKUP_PASSWORD", passwordFile, secret, &problem)) {
    case PasswordSource::Unreadable:
      std::cerr << "retrievo: " << problem << '\n';
      return kExitFailure;
    case PasswordSource::None:
      std::cerr << "retrievo: the backup is encrypted; give its password with --password-file "
                   "FILE or RETRIEVO_BACKUP_PASSWORD: "
                << terminalSafe(folder) << '\n';
      return kExitEncrypted;
    default:
      break;
  }
  UnlockResult result = UnlockedBackup::unlock(folder, secret.view(), [] {
    std::cerr << "retrievo: deriving the backup key…" << std::endl;
  });
  switch (result.status) {
    case UnlockStatus::Unlocked:
      registerUnlockedBackup(std::move(result.backup));
      return kExitOk;
    case UnlockStatus::WrongPassword:
      std::cerr << "retrievo: wrong backup password: " << terminalSafe(folder) << '\n';
      return kExitEncrypted;
    default:
      std::cerr << "retrievo: cannot open the encrypted backup: " << terminalSafe(result.reason)
                << ": " << terminalSafe(folder) << '\n';
      return kExitFailure;
  }
}

std::optional<std::string> cloudAccountPassword(const std::string& account,
                                                const std::string& passwordFile,
                                                std::string* problem) {
  Secret secret;
  std::string why;
  switch (obtainPassword("Password of " + terminalSafe(account) + ": ", "RETRIEVO_CLOUD_PASSWORD",
                         passwordFile, secret, &why)) {
    case PasswordSource::Unreadable:
      if (problem != nullptr) *problem = why;
      return std::nullopt;
    case PasswordSource::None:
      if (problem != nullptr) {
        *problem =
            "give the account's password with --password-file FILE or "
            "RETRIEVO_CLOUD_PASSWORD";
      }
      return std::nullopt;
    default:
      return std::string(secret.view());
  }
}

}  // namespace cli
