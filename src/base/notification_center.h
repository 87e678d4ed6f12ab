// The process's notification centre: named notifications with one object each.
//
// Delivery is synchronous, on the poster's thread, to every observer of the name in the
// order they registered. An observer may add or remove observers while it is being called;
// those changes take effect for the next post.
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class NotificationCenter {
 public:
  using Callback = std::function<void(const std::any& object)>;
  using ObserverId = std::uint64_t;

  // The one centre through which all parts of the program post.
  static NotificationCenter& defaultCenter();

  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // Registers `callback` for `name`; the id removes it again.
  ObserverId addObserver(const std::string& name, Callback callback);
  void removeObserver(ObserverId id);
  void removeAllObservers();

  // Calls every observer of `name` with `object`, on this thread, before returning. The
  // name is not copied: carvers post tens of thousands of records under one name.
  void post(std::string_view name, const std::any& object = {}) const;

  // Number of observers registered for `name`.
  std::size_t observerCount(const std::string& name) const;

 private:
  struct Entry {
    ObserverId id;
    std::string name;
    std::shared_ptr<Callback> callback;
  };
  using Entries = std::vector<Entry>;
  // Copied on every change and shared with the posts under way, so that a post walks a
  // fixed list without copying it and without holding the lock during delivery.
  mutable std::mutex mutex_;
  std::shared_ptr<const Entries> entries_ = std::make_shared<const Entries>();
  ObserverId nextId_ = 1;
};
