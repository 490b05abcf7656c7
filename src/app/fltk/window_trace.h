#pragma once

#include <fstream>
#include <mutex>
#include <string>

namespace kt {

// A line-per-call record of what the window shows ("text|1004|3B7D", "box|Write to EEPROM OK!|..."),
// written when KT_WINDOW_TRACE names a file. The window program has no other output, and its checks
// under Xvfb read the field texts and the message boxes from here; without the variable it costs
// nothing.
class WindowTrace {
 public:
  WindowTrace();  // opens $KT_WINDOW_TRACE for appending, if set
  void Write(const std::string& line);

 private:
  std::mutex mutex_;
  std::ofstream out_;
};

}  // namespace kt
