// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "base/clock.h"
#include "base/system_dll_win32.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace kt {
namespace {

// Sleep(3) waits for the next 15.6 ms system tick, which would make a job five times slower. A
// high-resolution waitable timer (Windows 10 1803 and later) waits the asked time; where it is not
// available, raising the timer resolution to 1 ms for the pause gets close enough.
class HighResolutionTimer {
 public:
  HighResolutionTimer()
      : timer_(CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                      TIMER_ALL_ACCESS)) {}
  ~HighResolutionTimer() {
    if (timer_ != nullptr) CloseHandle(timer_);
  }
  HighResolutionTimer(const HighResolutionTimer&) = delete;
  HighResolutionTimer& operator=(const HighResolutionTimer&) = delete;

  bool Wait(std::uint32_t ms) {
    if (timer_ == nullptr) return false;
    LARGE_INTEGER due;
    // Relative on purpose: a relative due time runs on the interrupt time, which only goes forward; an
    // absolute one is a UTC system time and moves when the wall clock is set.
    due.QuadPart = -static_cast<LONGLONG>(ms) * 10000;  // in 100 ns units
    if (!SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE)) return false;
    return WaitForSingleObject(timer_, INFINITE) == WAIT_OBJECT_0;
  }

 private:
  HANDLE timer_;
};

// winmm's timer resolution calls, taken from System32 (never imported: see SystemDll), and only when this
// fallback is needed.
struct MultimediaTimerFunctions {
  static constexpr const wchar_t* kDll = L"winmm.dll";
  decltype(&timeBeginPeriod) BeginPeriod = nullptr;
  decltype(&timeEndPeriod) EndPeriod = nullptr;
  bool Bind(win32::SystemDll& dll) {
    return dll.Bind(BeginPeriod, "timeBeginPeriod") && dll.Bind(EndPeriod, "timeEndPeriod");
  }
};

// SleepEx ends on a tick, and its first tick can come at once: even at 1 ms ticks SleepEx(3) may wake
// after little more than 2 ms. One tick more keeps the pause at least as long as asked. Without winmm the
// pause is only coarser.
void CoarseSleep(std::uint32_t ms) {
  const auto* winmm = win32::LoadSystemFunctions<MultimediaTimerFunctions>();
  if (winmm) winmm->BeginPeriod(1);
  SleepEx(ms < INFINITE - 1 ? ms + 1 : ms, FALSE);
  if (winmm) winmm->EndPeriod(1);
}

}  // namespace

void RealClock::Sleep(std::uint32_t ms) {
  if (ms == 0) return;
  thread_local HighResolutionTimer timer;
  if (!timer.Wait(ms)) CoarseSleep(ms);
}

}  // namespace kt
