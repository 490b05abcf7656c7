#include "app/cli/interrupts.h"

namespace kt {

InterruptWatch::InterruptWatch() : impl_(StartPlatformInterrupts([this] { Deliver(); })) {}

// The platform's half goes first: no interrupt is delivered to a watch being destroyed.
InterruptWatch::~InterruptWatch() {
  impl_.reset();
}

void InterruptWatch::Route(std::function<void()> onInterrupt) {
  std::lock_guard<std::mutex> lock(mutex_);
  onInterrupt_ = std::move(onInterrupt);
  for (; held_ > 0 && onInterrupt_; --held_) onInterrupt_();
}

void InterruptWatch::Deliver() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (onInterrupt_) {
    onInterrupt_();
  } else {
    ++held_;
  }
}

bool InterruptWatch::active() const {
  return impl_->active();
}

}  // namespace kt
