#pragma once

#include <functional>
#include <memory>
#include <mutex>

namespace kt {

// Ctrl-C and, on Linux, SIGTERM and SIGHUP while the command line runs: the routed callback is called on
// a thread of the watch's own (never in a signal handler), once per interrupt. Only one watch exists at a
// time, and it is destroyed on the thread that made it. Once one has been destroyed, those signals are
// swallowed on Linux until the process ends: the run is ending, and a late signal must not change the
// status it ends with.
//
// On Linux the signals reach the watch's thread only: the thread that makes the watch, and every thread
// it starts while the watch lives, blocks them. Start the watch before the job's threads.
class InterruptWatch {
 public:
  // Interrupts that come before Route are kept and handed to it.
  InterruptWatch();
  ~InterruptWatch();

  // From now on interrupts go to `onInterrupt`; it is called at once for each one that came before.
  void Route(std::function<void()> onInterrupt);
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
  void Deliver();

  std::mutex mutex_;
  std::function<void()> onInterrupt_;
  int held_ = 0;
  std::unique_ptr<Impl> impl_;
};

std::unique_ptr<InterruptWatch::Impl> StartPlatformInterrupts(std::function<void()> onInterrupt);

}  // namespace kt
