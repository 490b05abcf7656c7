#include "app/cli/terminal.h"

#include <io.h>
#include <stdio.h>

namespace kt {

// _isatty is true for any character device; NUL is one too, but nobody waits for Enter from it.
bool StdinIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}
bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace kt
