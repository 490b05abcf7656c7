#pragma once

#include <cstdint>
#include <functional>

#include "programming/dialog_window.h"

namespace kt {

// Runs the window's messages until `over` holds (true), or until `activity` (a count of the job's signs
// of life: boxes, progress steps) has stayed the same for `quietBoundMs` of real time (false). Every sign
// of life starts the bound again, so a long job that keeps moving is never cut off.
bool PumpWhileTheJobLives(DialogWindow& window, std::uint32_t quietBoundMs,
                          const std::function<std::uint64_t()>& activity, const std::function<bool()>& over);

}  // namespace kt
