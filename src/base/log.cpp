#include "base/log.h"

#include <syslog.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace applog {
namespace {
std::atomic<bool> gVerbose{false};
std::mutex gMutex;
std::function<void(const std::string&)>& sinkSlot() {
  static std::function<void(const std::string&)> sink;
  return sink;
}
}  // namespace

void line(const std::string& text) {
  std::string one = text;
  while (!one.empty() && (one.back() == '\n' || one.back() == '\r')) one.pop_back();
  std::function<void(const std::string&)> sink;
  {
    std::lock_guard lock(gMutex);
    sink = sinkSlot();
  }
  syslog(LOG_NOTICE, "%s", one.c_str());
  if (gVerbose.load()) std::fprintf(stderr, "%s\n", one.c_str());
  if (sink) sink(one);
}

void setVerbose(bool v) { gVerbose.store(v); }
bool verbose() { return gVerbose.load(); }

void setSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(gMutex);
  sinkSlot() = std::move(sink);
}

}  // namespace applog
