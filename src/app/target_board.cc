#include "app/target_board.h"

#include "hid/sim/sim_board.h"

namespace kt {

TargetBoard MakeTargetBoard(const SimOptions* simulation) {
  TargetBoard target;
  target.clock = &SystemClock();
  if (simulation == nullptr) {
    target.backend = CreatePlatformHidBackend();
    return target;
  }
  if (simulation->virtualTime) {
    target.virtualClock = std::make_unique<VirtualClock>();
    target.clock = target.virtualClock.get();
  }
  target.backend = std::make_unique<SimBackend>(*simulation, *target.clock);
  return target;
}

}  // namespace kt
