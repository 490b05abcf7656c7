#include "base/clock.h"

#include <chrono>
#include <utility>

namespace kt {

std::uint64_t RealClock::NowMicros() const {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

bool RealClock::WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                        std::uint32_t timeoutMs, const std::function<bool()>& ready) {
  return cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

bool VirtualClock::WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                           std::uint32_t timeoutMs, const std::function<bool()>& ready) {
  if (ready()) return true;
  if (timeoutMs == 0) return false;
  const std::uint32_t realBound = timeoutMs < realWaitBoundMs_ ? timeoutMs : realWaitBoundMs_;
  const std::uint64_t start = NowMicros();
  if (cv.wait_for(lock, std::chrono::milliseconds(realBound), ready)) return true;
  AdvanceTo(start + static_cast<std::uint64_t>(timeoutMs) * 1000);
  return ready();
}

void VirtualClock::Sleep(std::uint32_t ms) {
  {
    std::lock_guard<std::mutex> lock(sleepsMutex_);
    if (recordSleeps_) sleeps_.push_back(ms);
  }
  Advance(static_cast<std::uint64_t>(ms) * 1000);
}

void VirtualClock::RecordSleeps() {
  std::lock_guard<std::mutex> lock(sleepsMutex_);
  recordSleeps_ = true;
}

std::vector<std::uint32_t> VirtualClock::TakeSleeps() {
  std::lock_guard<std::mutex> lock(sleepsMutex_);
  return std::exchange(sleeps_, {});
}

void VirtualClock::AdvanceTo(std::uint64_t micros) {
  std::uint64_t now = now_.load(std::memory_order_acquire);
  while (now < micros && !now_.compare_exchange_weak(now, micros, std::memory_order_acq_rel)) {
  }
}

RealClock& SystemClock() {
  static RealClock clock;
  return clock;
}

}  // namespace kt
