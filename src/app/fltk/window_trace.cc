#include "app/fltk/window_trace.h"

#include <cstdlib>

namespace kt {

WindowTrace::WindowTrace() {
  if (const char* path = std::getenv("KT_WINDOW_TRACE"); path != nullptr && *path != '\0') {
    out_.open(path, std::ios::app);
  }
}

void WindowTrace::Write(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!out_.is_open()) return;
  // One call per line: line breaks inside texts are written as "\n".
  std::string escaped;
  for (char c : line) {
    if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  out_ << escaped << std::endl;  // flushed: the checks read it while the program runs
}

}  // namespace kt
