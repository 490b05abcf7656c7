#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kt {

// Calls carried to the FLTK thread. Other threads queue them and wake FLTK with Fl::awake; the FLTK
// thread runs them from inside Fl::wait, so they also run while a message box has its own loop going,
// as sent window messages do on Windows.
class CallQueue : public std::enable_shared_from_this<CallQueue> {
 public:
  // Runs `fn` on the FLTK thread and returns when it has run, or when the queue has been closed (then
  // it may not have run at all).
  void Send(const std::function<void()>& fn);
  void Post(std::function<void()> fn);
  // FLTK thread: runs everything queued, one call at a time and without the lock held.
  void Drain();
  // Refuses every later call and releases the senders still waiting; their calls are dropped.
  void Close();

  // Calls queued and not yet taken by Drain.
  std::size_t Pending();
  // Waits until a call is queued (or the queue is closed) without running it: lets a test hold the FLTK
  // thread until another thread's call is known to be waiting.
  void WaitForCall();

  // Waits (any thread but FLTK's) until `ready()` or the time-out, woken by each call queued or run.
  std::mutex& Mutex() { return mutex_; }
  std::condition_variable& Changed() { return changed_; }

 private:
  struct Call {
    std::function<void()> fn;
    bool* done = nullptr;  // the sender's flag; null for a posted call
  };

  bool Push(Call call);  // false when closed

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Call> calls_;
  bool closed_ = false;
};

}  // namespace kt
