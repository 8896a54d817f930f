// A bounded queue between two threads of a pipeline: the producer waits
// while it is full, the consumer while it is empty, and either side can close
// it (the producer when it has no more, the consumer when it stops early).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

namespace tiko::host {

template <typename T>
class Channel {
 public:
  explicit Channel(size_t capacity) : capacity_(capacity) {}

  // Waits for room; false (the item dropped) once the channel is closed.
  bool Push(T item) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return closed_ || items_.size() < capacity_; });
    if (closed_) return false;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
  }

  // Adds the item only if there is room now; false (dropped) otherwise.
  bool TryPush(T item) {
    std::lock_guard lock(mutex_);
    if (closed_ || items_.size() >= capacity_) return false;
    items_.push_back(std::move(item));
    changed_.notify_all();
    return true;
  }

  // Waits for an item; nothing once the channel is closed and empty.
  std::optional<T> Pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return closed_ || !items_.empty(); });
    if (items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    changed_.notify_all();
    return item;
  }

  // An item if one is there now, without waiting.
  std::optional<T> TryPop() {
    std::lock_guard lock(mutex_);
    if (items_.empty()) return std::nullopt;
    T item = std::move(items_.front());
    items_.pop_front();
    changed_.notify_all();
    return item;
  }

  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

 private:
  const size_t capacity_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<T> items_;
  bool closed_ = false;
};

}  // namespace tiko::host
