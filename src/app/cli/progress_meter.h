#pragma once

#include <ostream>

namespace kt {

// Shows a job's progress (0..100): a bar redrawn in place on a terminal, else one line per 10 % so that
// a log stays short and readable.
class ProgressMeter {
 public:
  ProgressMeter(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}

  void Update(int percent);
  // Ends a bar's line, so that whatever is printed next starts on a line of its own.
  void Break();

 private:
  void DrawBar(int percent);

  std::ostream& out_;
  bool terminal_;
  int lastPercent_ = -1;
  int lastTenth_ = 0;  // lines printed up to this tenth
  bool barOpen_ = false;
};

}  // namespace kt
