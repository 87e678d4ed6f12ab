#include "device/backup_ticker.h"

namespace amd {

SteadyBackupTicker::SteadyBackupTicker(std::chrono::steady_clock::duration interval)
    : interval_(interval) {}

bool SteadyBackupTicker::waitForTick() {
  std::unique_lock lock(mutex_);
  if (!started_) {
    started_ = true;
    next_ = std::chrono::steady_clock::now() + interval_;
  }
  if (wake_.wait_until(lock, next_, [this] { return stopped_; })) return false;
  next_ += interval_;
  return true;
}

void SteadyBackupTicker::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  wake_.notify_all();
}

bool ManualBackupTicker::waitForTick() {
  std::unique_lock lock(mutex_);
  waiting_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return stopped_ || pending_ > 0; });
  waiting_ = false;
  if (stopped_) {
    changed_.notify_all();
    return false;
  }
  --pending_;
  ++taken_;
  return true;
}

void ManualBackupTicker::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

bool ManualBackupTicker::fire(std::size_t ticks, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (std::size_t i = 0; i < ticks; ++i) {
    if (stopped_) return true;
    ++pending_;
    changed_.notify_all();
    // Handled: taken, and the loop is back waiting (so whatever the tick did is done).
    if (!changed_.wait_until(lock, until,
                             [this] { return stopped_ || (pending_ == 0 && waiting_); }))
      return false;
  }
  return true;
}

std::size_t ManualBackupTicker::taken() const {
  std::lock_guard lock(mutex_);
  return taken_;
}

}  // namespace amd
