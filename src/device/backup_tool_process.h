// One run of the backup tool as a child process.
//
// The program is started without a shell (posix_spawnp: a name without "/" is looked up in
// PATH), with the caller's environment, stdin on /dev/null, stdout and stderr on one pipe,
// no signal blocked or ignored, and in a process group of its own, so that stopping it also
// stops whatever it started (a script's children). The pipe is read by the thread that waits.
//
// stop() may be called from any thread at any time, also before start() or after the end:
// the tool's group then gets SIGTERM and, when the tool has not ended within the grace
// period, SIGKILL. Signals go only to a child that has not been reaped, so they never reach a
// process that merely reuses its number.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace amd {

// How the tool ended.
struct ToolExit {
  bool exited = false;  // ended by itself: `code` holds its exit status
  int code = -1;
  int signal = 0;  // killed by this signal (exited is false)
};

class BackupToolProcess {
 public:
  explicit BackupToolProcess(std::chrono::milliseconds stopGrace = std::chrono::milliseconds(2000));
  // A tool still running is killed (SIGKILL to its group) and reaped.
  ~BackupToolProcess();
  BackupToolProcess(const BackupToolProcess&) = delete;
  BackupToolProcess& operator=(const BackupToolProcess&) = delete;

  // Starts `argv` (argv[0] the program). Empty when it runs, else why not: the error of the
  // launch as strerror(3) words ("No such file or directory").
  std::string start(const std::vector<std::string>& argv);

  // Passes every piece of output to `output` as it arrives and returns when the tool has
  // ended and been reaped; what is left in the pipe then is read without waiting for it to
  // be closed (a child of the tool may still hold it open). Call once, after a successful
  // start().
  ToolExit wait(const std::function<void(std::string_view)>& output);

  void stop();
  bool stopRequested() const { return stopRequested_.load(); }

 private:
  void signalGroup(int signal);
  void drain(const std::function<void(std::string_view)>& output);

  const std::chrono::milliseconds stopGrace_;
  std::atomic<bool> stopRequested_{false};
  int readEnd_ = -1;
  int wakeFd_ = -1;  // eventfd: stop() wakes the waiting thread through it
  std::mutex childMutex_;
  pid_t child_ = -1;  // the running child; -1 once reaped or before start
};

}  // namespace amd
