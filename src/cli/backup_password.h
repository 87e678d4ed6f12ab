// Opening an encrypted backup on the command line: where the password comes from, and the
// unlock that makes the backup's files readable for the rest of the run.
//
// The password is taken from, in this order, the first line of the file given with
// --password-file, the environment variable RETRIEVO_BACKUP_PASSWORD, or a prompt without
// echo on the terminal. It never goes to argv, the log or an error text, and its bytes are
// wiped once the keys are derived.
#pragma once

#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace cli {

// Adds --password-file to `cmd`, storing the file's path in `target`.
void addPasswordOption(CLI::App* cmd, std::string& target);

// Unlocks the encrypted backup in `folder` (once per run: a backup already unlocked is
// reused) and returns kExitOk; otherwise prints the reason and returns the exit code: 3 for
// a wrong or missing password, 1 for a backup that cannot be opened.
int unlockBackupFolder(const std::string& folder, const std::string& passwordFile);

// The password of the cloud account `account`, from the same three places (the variable is
// RETRIEVO_CLOUD_PASSWORD). None, with `problem` set, when none could be had. The caller holds
// it for the one sign-in of the run only.
std::optional<std::string> cloudAccountPassword(const std::string& account,
                                                const std::string& passwordFile,
                                                std::string* problem);

}  // namespace cli
