#include <windows.h>

#include "base/program_start.h"
#include "base/utf8_path_win32.h"

namespace kt {

std::vector<std::string> StartProgram(int, char**) {
  // Before anything could load a DLL by its bare name: the default search would look beside the program
  // first, where a DLL planted next to a program unzipped into a Downloads folder would be taken.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return win32::ArgumentsOfCommandLine(GetCommandLineW());
}

}  // namespace kt
