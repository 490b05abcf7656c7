#include <windows.h>

#include "base/program_start.h"
#include "base/utf8_path_win32.h"

namespace kt {

std::vector<std::string> StartProgram(int, char**) {
  return win32::ArgumentsOfCommandLine(GetCommandLineW());
}

}  // namespace kt
