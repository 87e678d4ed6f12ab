#include "base/localization.h"

#include <mutex>

namespace {
std::mutex gMutex;
std::map<std::string, std::string>& table() {
  static std::map<std::string, std::string> t;
  return t;
}
}  // namespace

void setTranslationTable(std::map<std::string, std::string> t) {
  std::lock_guard lock(gMutex);
  table() = std::move(t);
}

std::string localizedString(const std::string& key) {
  std::lock_guard lock(gMutex);
  auto it = table().find(key);
  if (it == table().end() || it->second.empty()) return key;
  return it->second;
}
