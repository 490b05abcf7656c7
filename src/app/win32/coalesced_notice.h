#pragma once

#include <atomic>
#include <functional>
#include <utility>

namespace kt {

// Tells the window thread that something changed: a flood of changes from other threads leaves one
// message in its queue rather than one each (the queue has a limit, and every message costs a redraw),
// and no change made after the window has looked goes unseen.
class CoalescedNotice {
 public:
  // `post` puts the message in the window's queue; false when it could not.
  explicit CoalescedNotice(std::function<bool()> post) : post_(std::move(post)) {}

  // From any thread.
  void Notify() {
    if (pending_.exchange(true)) return;
    // Not posted (the queue was full): the next change tries again.
    if (!post_()) pending_.store(false);
  }
  // On the window thread, on the message, before it reads what changed.
  void Taken() { pending_.store(false); }

 private:
  std::function<bool()> post_;
  std::atomic<bool> pending_{false};
};

}  // namespace kt
