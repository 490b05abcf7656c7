#pragma once

#include <string>

#include "app/fltk/window_trace.h"
#include "app/window_command_line.h"

namespace kt {

// The station window on Linux: every port a tile, the image, the record and the counts above them, the
// station itself the command line's, run in this process. Returns the process's exit status: the
// station's own (0, 30, 31, ...), or 2 when it could not start.
int RunStationWindow(const std::string& applicationName, const WindowStart& start, WindowTrace& trace);

}  // namespace kt
