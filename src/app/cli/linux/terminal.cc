#include "app/cli/terminal.h"

#include <unistd.h>

namespace kt {

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}
bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace kt
