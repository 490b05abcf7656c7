#pragma once

namespace kt {

// Whether the process's standard input / standard error is an interactive terminal.
bool StdinIsTerminal();
bool StderrIsTerminal();

}  // namespace kt
