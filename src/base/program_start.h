#pragma once

#include <string>
#include <vector>

namespace kt {

// The first call of every program's main: gives its arguments after the program's name as UTF-8, the
// form the shared code keeps paths in. On Windows they are taken from the UTF-16 command line (the `argv`
// Windows gives `main` is in the ANSI code page, which cannot carry every file name).
std::vector<std::string> StartProgram(int argc, char** argv);

}  // namespace kt
