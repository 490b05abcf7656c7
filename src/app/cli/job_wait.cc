#include "app/cli/job_wait.h"

#include "base/clock.h"

namespace kt {

bool PumpWhileTheJobLives(DialogWindow& window, std::uint32_t quietBoundMs,
                          const std::function<std::uint64_t()>& activity, const std::function<bool()>& over) {
  const std::uint64_t bound = static_cast<std::uint64_t>(quietBoundMs) * 1000;
  std::uint64_t lastActivity = activity();
  std::uint64_t quietSince = SystemClock().NowMicros();
  while (!over()) {
    const std::uint64_t quiet = SystemClock().NowMicros() - quietSince;
    if (quiet >= bound) return false;
    window.PumpMessagesUntil(SystemClock(), static_cast<std::uint32_t>((bound - quiet + 999) / 1000), over);
    if (activity() != lastActivity) {
      lastActivity = activity();
      quietSince = SystemClock().NowMicros();
    }
  }
  return true;
}

}  // namespace kt
