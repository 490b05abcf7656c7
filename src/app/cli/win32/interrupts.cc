#include "app/cli/interrupts.h"

#include <windows.h>

#include <atomic>
#include <mutex>

namespace kt {
namespace {

std::mutex gWatchMutex;
std::function<void()>* gOnInterrupt = nullptr;

// Windows runs console control handlers on a thread of their own, so the callback can run right here.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  std::lock_guard<std::mutex> lock(gWatchMutex);
  // No watch any more: the run is ending, and a late Ctrl-C must not change the status it ends with.
  if (gOnInterrupt == nullptr) return type != CTRL_CLOSE_EVENT;
  (*gOnInterrupt)();
  return TRUE;
}

}  // namespace

class ConsoleControlInterrupts final : public InterruptWatch::Impl {
 public:
  explicit ConsoleControlInterrupts(std::function<void()> onInterrupt)
      : onInterrupt_(std::move(onInterrupt)) {
    {
      std::lock_guard<std::mutex> lock(gWatchMutex);
      gOnInterrupt = &onInterrupt_;
    }
    active_ = SetConsoleCtrlHandler(&OnConsoleControl, TRUE) != 0;
  }
  // The handler stays registered (see OnConsoleControl); only the callback goes.
  ~ConsoleControlInterrupts() override {
    std::lock_guard<std::mutex> lock(gWatchMutex);
    gOnInterrupt = nullptr;
  }
  bool active() const override { return active_; }

 private:
  std::function<void()> onInterrupt_;
  bool active_ = false;
};

std::unique_ptr<InterruptWatch::Impl> StartPlatformInterrupts(std::function<void()> onInterrupt) {
  return std::make_unique<ConsoleControlInterrupts>(std::move(onInterrupt));
}

}  // namespace kt
