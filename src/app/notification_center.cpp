#include "app/notification_center.h"

#include <algorithm>
#include <memory>

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter center;
  return center;
}

NotificationCenter::ObserverId NotificationCenter::addObserver(const std::string& name,
                                                               Callback callback) {
  std::lock_guard lock(mutex_);
  ObserverId id = nextId_++;
  entries_.push_back({id, name, std::make_shared<Callback>(std::move(callback))});
  return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [id](const Entry& e) { return e.id == id; });
}

void NotificationCenter::removeAllObservers() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

void NotificationCenter::post(const std::string& name, const std::any& object) const {
  // Take a snapshot so that observers can register or unregister while being called
  // without invalidating the walk, and without holding the lock during delivery.
  std::vector<std::shared_ptr<Callback>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const Entry& e : entries_) {
      if (e.name == name) targets.push_back(e.callback);
    }
  }
  for (const auto& cb : targets) (*cb)(object);
}

std::size_t NotificationCenter::observerCount(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.name == name; }));
}
