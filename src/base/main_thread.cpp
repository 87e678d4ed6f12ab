#include "base/main_thread.h"

#include <mutex>

namespace {
std::mutex& executorMutex() {
  static std::mutex m;
  return m;
}
MainThreadExecutor& executorSlot() {
  static MainThreadExecutor executor;
  return executor;
}
}  // namespace

void setMainThreadExecutor(MainThreadExecutor executor) {
  std::lock_guard lock(executorMutex());
  executorSlot() = std::move(executor);
}

void performOnMainThreadAndWait(const std::function<void()>& fn) {
  MainThreadExecutor executor;
  {
    std::lock_guard lock(executorMutex());
    executor = executorSlot();
  }
  if (executor) {
    executor(fn);
  } else {
    fn();
  }
}
