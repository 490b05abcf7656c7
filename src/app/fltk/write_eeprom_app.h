#pragma once

#include <string>
#include <vector>

namespace kt {

// The window program's start-up, as the Windows application object's InitInstance: the single-instance
// rule, `--simulate[=OPTIONS]`, the modal run of the main dialog and its teardown. `programPath` is
// argv[0]; its file name without extension is the application's name. Returns the process's exit
// status: 0 in every case but a bad --simulate option list (2).
int RunWriteEepromApp(const std::string& programPath, const std::vector<std::string>& args);

}  // namespace kt
