#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace kt {

// Every pause and time-out of the tool goes through one of these, so that tests can run whole jobs in
// virtual time and benchmarks in real time with the same code.
class Clock {
 public:
  virtual ~Clock() = default;

  // Monotonic time since an arbitrary start, in microseconds.
  virtual std::uint64_t NowMicros() const = 0;

  // A plain pause of `ms` milliseconds (no early wake-up).
  virtual void Sleep(std::uint32_t ms) = 0;

  // Waits on `cv` (with `lock` held on entry and exit) until `ready()` holds or `timeoutMs` has passed.
  // Returns ready(). Whoever makes ready() true notifies `cv`.
  virtual bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv,
                       std::uint32_t timeoutMs, const std::function<bool()>& ready) = 0;

  double NowMillis() const { return static_cast<double>(NowMicros()) / 1000.0; }
};

// Wall-clock time. Sleep is a high-resolution pause on every platform: a 3 ms pause must not turn into a
// 15.6 ms Windows tick (the per-platform part lives in sleep_<platform>.cc).
class RealClock final : public Clock {
 public:
  std::uint64_t NowMicros() const override;
  void Sleep(std::uint32_t ms) override;
  bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::uint32_t timeoutMs,
               const std::function<bool()>& ready) override;
};

// Virtual time for tests: pauses and time-outs cost no real time, they only move the clock on.
// WaitFor still really waits for another thread to make `ready()` true (that is real work being done),
// but never longer than a real-time safety bound; if ready() is still false then, the whole virtual
// time-out is taken as passed.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(std::uint32_t realWaitBoundMs = 20000) : realWaitBoundMs_(realWaitBoundMs) {}

  std::uint64_t NowMicros() const override { return now_.load(std::memory_order_acquire); }
  void Sleep(std::uint32_t ms) override;
  bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, std::uint32_t timeoutMs,
               const std::function<bool()>& ready) override;

  void Advance(std::uint64_t micros) { now_.fetch_add(micros, std::memory_order_acq_rel); }
  // Moves the clock to `micros` if that is later than now (used by components that schedule answers).
  void AdvanceTo(std::uint64_t micros);
  // From now on every Sleep is kept, in order (off by default: a long soak would keep millions).
  void RecordSleeps();
  // The pauses slept since RecordSleeps or the last TakeSleeps.
  std::vector<std::uint32_t> TakeSleeps();

 private:
  std::atomic<std::uint64_t> now_{0};
  std::uint32_t realWaitBoundMs_;
  std::mutex sleepsMutex_;
  bool recordSleeps_ = false;
  std::vector<std::uint32_t> sleeps_;
};

// The clock used by the process when nothing else is asked for.
RealClock& SystemClock();

}  // namespace kt
