#include "base/program_start.h"

namespace kt {

std::vector<std::string> StartProgram(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace kt
