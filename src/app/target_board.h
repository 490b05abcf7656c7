#pragma once

#include <memory>

#include "base/clock.h"
#include "hid/hid_backend.h"
#include "hid/sim/sim_options.h"

namespace kt {

// What a window program talks to: the platform's HID stack in real time, or the simulated board, in
// virtual time when its options ask for it (then every pause and time-out passes at once, the board's
// own included). `clock` points at `virtualClock` or at the system clock.
struct TargetBoard {
  std::unique_ptr<VirtualClock> virtualClock;
  Clock* clock = nullptr;
  std::unique_ptr<HidBackend> backend;
};

// `simulation` null: the platform backend.
TargetBoard MakeTargetBoard(const SimOptions* simulation);

}  // namespace kt
