#include "app/cli/interrupts.h"

namespace kt {

InterruptWatch::InterruptWatch(std::function<void()> onInterrupt)
    : impl_(StartPlatformInterrupts(std::move(onInterrupt))) {}

InterruptWatch::~InterruptWatch() = default;

bool InterruptWatch::active() const {
  return impl_->active();
}

}  // namespace kt
