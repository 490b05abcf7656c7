#pragma once

#include <string>
#include <vector>

#include "app/cli/console_window.h"

namespace kt {

// kt7310-eeprom without its process: `args` are the arguments after the program name. Returns the exit
// status.
int RunCli(const std::vector<std::string>& args, ConsoleIo& io);

}  // namespace kt
