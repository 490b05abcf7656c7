#pragma once

#include <string>
#include <vector>

namespace kt {

// The first call of every program's main: makes the process safe to go on with, and gives its arguments
// after the program's name as UTF-8, the form the shared code keeps paths in. On Windows that means DLLs
// from System32 only from here on, and the arguments taken from the UTF-16 command line (the `argv`
// Windows gives `main` is in the ANSI code page, which cannot carry every file name).
std::vector<std::string> StartProgram(int argc, char** argv);

}  // namespace kt
