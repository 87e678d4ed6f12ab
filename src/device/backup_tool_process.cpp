#include "device/backup_tool_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

extern char** environ;

namespace amd {
namespace {

// How often the waiting thread looks whether the tool has ended while it prints nothing.
constexpr int kExitPollMilliseconds = 50;

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

ToolExit exitOf(int status) {
  ToolExit result;
  if (WIFEXITED(status)) {
    result.exited = true;
    result.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

// posix_spawn's attributes and file actions, released on every path.
struct SpawnSetup {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

BackupToolProcess::BackupToolProcess(std::chrono::milliseconds stopGrace) : stopGrace_(stopGrace) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

BackupToolProcess::~BackupToolProcess() {
  {
    std::lock_guard lock(childMutex_);
    if (child_ > 0) {
      ::kill(-child_, SIGKILL);
      while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
      }
      child_ = -1;
    }
  }
  closeFd(readEnd_);
  closeFd(wakeFd_);
}

std::string BackupToolProcess::start(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) return "no program given";
  if (child_ > 0 || readEnd_ >= 0) return "already started";
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return std::strerror(errno);

  SpawnSetup setup;
  // stdin from /dev/null, stdout and stderr into the pipe; the descriptors of the pipe
  // itself close on exec.
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&setup.actions, pipeFds[1], STDERR_FILENO);
  // A group of its own; no signal blocked, and the usual ones at their default action (a
  // caller that ignores SIGPIPE or blocks SIGTERM must not hand that on).
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int signal : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGCHLD})
    sigaddset(&defaults, signal);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int error =
      ::posix_spawnp(&pid, args[0], &setup.actions, &setup.attributes, args.data(), environ);
  ::close(pipeFds[1]);
  if (error != 0) {
    ::close(pipeFds[0]);
    return std::strerror(error);
  }
  readEnd_ = pipeFds[0];
  ::fcntl(readEnd_, F_SETFL, ::fcntl(readEnd_, F_GETFL) | O_NONBLOCK);
  std::lock_guard lock(childMutex_);
  child_ = pid;
  return {};
}

void BackupToolProcess::signalGroup(int signal) {
  std::lock_guard lock(childMutex_);
  if (child_ > 0) ::kill(-child_, signal);
}

void BackupToolProcess::stop() {
  stopRequested_ = true;
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
  }
}

void BackupToolProcess::drain(const std::function<void(std::string_view)>& output) {
  char buffer[4096];
  while (readEnd_ >= 0) {
    const ssize_t got = ::read(readEnd_, buffer, sizeof buffer);
    if (got > 0) {
      if (output) output(std::string_view(buffer, static_cast<std::size_t>(got)));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) closeFd(readEnd_);  // every writer has closed it
    return;                           // EAGAIN: nothing more for now
  }
}

ToolExit BackupToolProcess::wait(const std::function<void(std::string_view)>& output) {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> termSentAt;
  bool killSent = false;
  while (true) {
    if (stopRequested_ && !termSentAt) {
      signalGroup(SIGTERM);
      termSentAt = Clock::now();
    }
    if (termSentAt && !killSent && Clock::now() - *termSentAt >= stopGrace_) {
      signalGroup(SIGKILL);
      killSent = true;
    }
    {
      // Looked at without reaping first: while the ended tool is a zombie its number (and
      // its group's) cannot be taken by another process, so a stopped tool's group can
      // still be killed safely (a child of the tool may hold on). Reaped under the lock, so
      // that no signal can follow the reaping.
      std::lock_guard lock(childMutex_);
      if (child_ <= 0) return ToolExit{};
      siginfo_t info{};
      int looked = ::waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOHANG | WNOWAIT);
      while (looked < 0 && errno == EINTR)
        looked = ::waitid(P_PID, static_cast<id_t>(child_), &info, WEXITED | WNOHANG | WNOWAIT);
      if (looked < 0 || info.si_pid == child_) {
        if (stopRequested_) ::kill(-child_, SIGKILL);
        int status = 0;
        pid_t done = ::waitpid(child_, &status, 0);
        while (done < 0 && errno == EINTR) done = ::waitpid(child_, &status, 0);
        const ToolExit result = done == child_ ? exitOf(status) : ToolExit{};
        child_ = -1;
        drain(output);
        closeFd(readEnd_);
        return result;
      }
    }
    pollfd fds[2] = {{readEnd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, kExitPollMilliseconds);
    if (ready < 0 && errno != EINTR) {
      // Cannot wait on the pipe any more: go on looking for the end alone.
      closeFd(readEnd_);
      ::usleep(kExitPollMilliseconds * 1000);
      continue;
    }
    if (ready <= 0) continue;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] ssize_t got = ::read(wakeFd_, &count, sizeof count);
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) drain(output);
  }
}

}  // namespace amd
