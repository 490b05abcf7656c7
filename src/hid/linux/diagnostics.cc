#include "hid/linux/diagnostics.h"

#include <iostream>
#include <utility>

namespace kt {

LinuxHidDiagnostics::LinuxHidDiagnostics(Hook hook) : hook_(std::move(hook)) {
  if (!hook_) hook_ = [](const std::string& message) { std::cerr << message << '\n'; };
}

void LinuxHidDiagnostics::Record(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  lastError_ = message;
}

void LinuxHidDiagnostics::ReportOnce(const std::string& subject, const std::string& message) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lastError_ = message;
    if (!reported_.insert(subject).second) return;
  }
  hook_(message);  // outside the lock: the hook may well ask for LastError
}

std::string LinuxHidDiagnostics::LastError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

}  // namespace kt
