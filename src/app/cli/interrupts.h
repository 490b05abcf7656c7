#pragma once

#include <functional>
#include <memory>

namespace kt {

// Ctrl-C and, on Linux, SIGTERM and SIGHUP while the command line runs: `onInterrupt` is called on a
// thread of the watch's own (never in a signal handler), once per interrupt. Only one watch exists at a
// time. Once one has been destroyed, those signals are swallowed on Linux until the process ends: the
// run is ending, and a late signal must not change the status it ends with.
class InterruptWatch {
 public:
  explicit InterruptWatch(std::function<void()> onInterrupt);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // False when the platform would not let the watch be set up; interrupts then end the process as usual.
  bool active() const;

  // The platform's half: set up by StartPlatformInterrupts, undone by its destructor.
  class Impl {
   public:
    virtual ~Impl() = default;
    virtual bool active() const = 0;
  };

 private:
  std::unique_ptr<Impl> impl_;
};

std::unique_ptr<InterruptWatch::Impl> StartPlatformInterrupts(std::function<void()> onInterrupt);

}  // namespace kt
