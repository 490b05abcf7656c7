#pragma once

#include "app/win32/windows_api.h"
#include "app/window_command_line.h"

namespace kt {

// The station window (--station): every board plugged in is written, each shown as a tile, until the
// operator exits. One per machine: a second start brings the first to the front and ends.
//
// Runs the window until it closes and returns the program's exit status: the station's, 0 when another
// station window was already open, kExitUsage when the slots file is refused.
int RunStationWindow(HINSTANCE instance, const WindowStart& start, const std::string& applicationName);

}  // namespace kt
