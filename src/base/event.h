#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/clock.h"

namespace kt {

// A manual-reset event, like the Windows kind: Set wakes every waiter and stays set until Reset.
class Event {
 public:
  explicit Event(bool initiallySet = false) : set_(initiallySet) {}

  // Notifies under the lock: a waiter that wakes may destroy the event at once.
  void Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    cv_.notify_all();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
  }
  bool IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }
  // Waits at most timeoutMs on `clock`; true when the event is set.
  bool Wait(Clock& clock, std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return clock.WaitFor(lock, cv_, timeoutMs, [this] { return set_; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool set_;
};

}  // namespace kt
