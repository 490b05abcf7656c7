#include "app/cli/progress_meter.h"

#include <algorithm>
#include <string>

namespace kt {
namespace {

constexpr int kBarWidth = 40;

}  // namespace

void ProgressMeter::Update(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == lastPercent_ && (barOpen_ || !terminal_)) return;
  // Every job starts from 0 again; a new job gets its own lines.
  if (percent < lastPercent_) lastTenth_ = 0;
  lastPercent_ = percent;
  if (terminal_) {
    DrawBar(percent);
    return;
  }
  for (int tenth = lastTenth_ + 1; tenth <= percent / 10; ++tenth) {
    out_ << "progress " << tenth * 10 << "%\n" << std::flush;
  }
  lastTenth_ = std::max(lastTenth_, percent / 10);
}

void ProgressMeter::DrawBar(int percent) {
  const int filled = percent * kBarWidth / 100;
  std::string bar = "\r[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] ";
  const std::string number = std::to_string(percent);
  bar += std::string(3 - number.size(), ' ') + number + "%";
  out_ << bar << std::flush;
  barOpen_ = true;
}

void ProgressMeter::Break() {
  if (!barOpen_) return;
  out_ << "\n" << std::flush;
  barOpen_ = false;
}

}  // namespace kt
