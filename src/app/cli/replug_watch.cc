#include "app/cli/replug_watch.h"

namespace kt {

ReplugWatch::ReplugWatch(std::unique_ptr<HidBackend> inner) : inner_(std::move(inner)) {
  SetDeviceChangeListener(nullptr);
}

ReplugWatch::~ReplugWatch() {
  // The inner backend's monitor calls back into this object: stop it before the members go.
  inner_->SetDeviceChangeListener(nullptr);
}

void ReplugWatch::SetDeviceChangeListener(DeviceChangeListener listener) {
  // The watch keeps listening whoever else does, so the dialog dropping its listener changes nothing here.
  inner_->SetDeviceChangeListener([this, listener = std::move(listener)](const DeviceChange& change) {
    Record(change.arrived);
    if (listener) listener(change);
  });
}

void ReplugWatch::Record(bool arrived) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++events_;
  if (arrived) {
    lastArrival_ = events_;
  } else if (firstRemoval_ <= mark_) {
    firstRemoval_ = events_;
  }
  changed_.notify_all();
}

void ReplugWatch::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  changed_.notify_all();
}

void ReplugWatch::Mark() {
  std::lock_guard<std::mutex> lock(mutex_);
  mark_ = events_;
}

bool ReplugWatch::WaitForReplug(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& present) {
  return Wait(clock, timeoutMs, present, true);
}

bool ReplugWatch::WaitForArrival(Clock& clock, std::uint32_t timeoutMs,
                                 const std::function<bool()>& present) {
  return Wait(clock, timeoutMs, present, false);
}

bool ReplugWatch::Wait(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& present,
                       bool afterRemoval) {
  const std::uint64_t deadline = clock.NowMicros() + static_cast<std::uint64_t>(timeoutMs) * 1000;
  std::unique_lock<std::mutex> lock(mutex_);
  std::uint64_t checked = 0;  // the arrival last found without the board
  if (!afterRemoval) {
    // The board may be there already; an arrival from now on is looked at again.
    checked = lastArrival_;
    lock.unlock();
    const bool found = present();
    lock.lock();
    if (found) return true;
  }
  for (;;) {
    const auto back = [&] {
      const bool removed = !afterRemoval || (firstRemoval_ > mark_ && lastArrival_ > firstRemoval_);
      return cancelled_ || (removed && lastArrival_ > checked);
    };
    if (cancelled_) return false;
    const std::uint64_t now = clock.NowMicros();
    if (!back()) {
      if (now >= deadline) return false;
      const auto left = static_cast<std::uint32_t>((deadline - now + 999) / 1000);
      if (!clock.WaitFor(lock, changed_, left, back)) return false;
    }
    if (cancelled_) return false;
    checked = lastArrival_;
    // Looking for the board means opening devices: not under the lock the monitor thread needs.
    lock.unlock();
    const bool found = present();
    lock.lock();
    if (found) return true;
  }
}

}  // namespace kt
