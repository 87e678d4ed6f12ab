// The clock of the device backup's progress ticks.
//
// The backup driver runs one loop on a thread of its own: `while (ticker.waitForTick())
// tick();`. A ticker says when the next tick is due and lets the loop end at once when told
// to stop. SteadyBackupTicker ticks on the steady clock; ManualBackupTicker ticks when its
// owner says so, which lets a test drive any number of ticks without waiting for them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace amd {

class BackupTicker {
 public:
  virtual ~BackupTicker() = default;
  // Blocks until the next tick is due (true) or stop() has been called (false). Once it has
  // returned false it returns false at once on every later call.
  virtual bool waitForTick() = 0;
  // Ends the wait of waitForTick() at once; callable from any thread, more than once.
  virtual void stop() = 0;
};

// One tick every `interval` on the steady clock, the first one `interval` after the first
// call of waitForTick(). Ticks keep their cadence: a slow tick does not push the later ones
// back.
class SteadyBackupTicker final : public BackupTicker {
 public:
  explicit SteadyBackupTicker(std::chrono::steady_clock::duration interval);
  bool waitForTick() override;
  void stop() override;

 private:
  const std::chrono::steady_clock::duration interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopped_ = false;
  bool started_ = false;
  std::chrono::steady_clock::time_point next_;
};

// Ticks on demand. fire(n) hands the waiting loop n ticks, one after another, and returns when
// the loop has handled the last one (it is back waiting for the next tick) or the ticker has
// been stopped; false when that did not happen within `timeout`.
class ManualBackupTicker final : public BackupTicker {
 public:
  bool waitForTick() override;
  void stop() override;
  bool fire(std::size_t ticks = 1,
            std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // The ticks the loop has taken so far.
  std::size_t taken() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t pending_ = 0;
  std::size_t taken_ = 0;
  bool waiting_ = false;
  bool stopped_ = false;
};

}  // namespace amd
