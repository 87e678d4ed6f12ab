#include "base/notification_center.h"

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
  auto next = std::make_shared<Entries>(*entries_);
  next->push_back({id, name, std::make_shared<Callback>(std::move(callback))});
  entries_ = std::move(next);
  return id;
}

void NotificationCenter::removeObserver(ObserverId id) {
  std::lock_guard lock(mutex_);
  auto next = std::make_shared<Entries>(*entries_);
  std::erase_if(*next, [id](const Entry& e) { return e.id == id; });
  entries_ = std::move(next);
}

void NotificationCenter::removeAllObservers() {
  std::lock_guard lock(mutex_);
  entries_ = std::make_shared<const Entries>();
}

void NotificationCenter::post(std::string_view name, const std::any& object) const {
  // The list as it stands now; observers added or removed during delivery change the list
  // of the next post, not this one.
  std::shared_ptr<const Entries> entries;
  {
    std::lock_guard lock(mutex_);
    entries = entries_;
  }
  for (const Entry& e : *entries) {
    if (e.name == name) (*e.callback)(object);
  }
}

std::size_t NotificationCenter::observerCount(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(entries_->begin(), entries_->end(),
                                                [&](const Entry& e) { return e.name == name; }));
}
