// The command line's commands. Each returns the process exit code:
// 0 done, 1 failure (a one-line reason on stderr), 2 bad usage, 3 an encrypted backup
// without its password, or a wrong password.
#pragma once

#include <string>

namespace CLI {
class App;
}
struct MzIOSDeviceNode;

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitEncrypted = 3;

// The exit code the command that ran has set.
int& exitCode();

// Each registers one command on `app`; the command sets exitCode() when it runs.
void addListCommand(CLI::App& app);
void addFilesCommand(CLI::App& app);
void addScanCommand(CLI::App& app);
void addShowCommand(CLI::App& app);
void addRecoverCommand(CLI::App& app);
void addBrowseCommand(CLI::App& app);
void addSearchCommand(CLI::App& app);
void addHexCommand(CLI::App& app);
// retrievo device list | info | photos: one function per subcommand in device_command.cpp.
void addDeviceCommand(CLI::App& app);
// retrievo cloud login | list | download | downloads | scan (cloud_command.cpp).
void addCloudCommand(CLI::App& app);

// What `retrievo scan` is given.
struct ScanOptions {
  std::string passwordFile;  // --password-file, for an encrypted backup
  std::string backup;
  std::string json;  // also write the whole result as JSON here ("-": stdout only)
  bool quiet = false;
};
// Scans the backup folder and prints the category table, as `retrievo scan` does.
int runScan(const ScanOptions& options);
// Scans the "merge" folder of a downloaded cloud backup described by `record` and prints the
// category table (and the JSON document to `json` when given), as runScan does.
int runCloudScan(const std::string& mergeFolder, const MzIOSDeviceNode& record,
                 const std::string& json, bool quiet);

// Checks that `folder` is a readable device backup, unlocking an encrypted one with the
// password of `passwordFile` or the other sources (backup_password.h). Prints the reason and
// returns the exit code when it is not readable; returns kExitOk when it is.
int checkBackupFolder(const std::string& folder, const std::string& passwordFile);

// Why the file `target` must not be written by a command reading `backup`, or "" when it
// may: a target inside the backup folder (the backup is evidence and is never written), a
// symbolic link (nothing is written through a link the command did not make), or something
// other than a regular file.
std::string outputFileProblem(const std::string& target, const std::string& backup);

}  // namespace cli
