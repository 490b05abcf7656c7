#include <time.h>

#include <cerrno>

#include "base/clock.h"

namespace kt {

// nanosleep has microsecond-class resolution on Linux; resume after signals so a pause is never cut short.
void RealClock::Sleep(std::uint32_t ms) {
  timespec want{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec left{};
  while (nanosleep(&want, &left) == -1 && errno == EINTR) want = left;
}

}  // namespace kt
