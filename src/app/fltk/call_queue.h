#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kt {

// Calls carried to the FLTK thread. Other threads queue them and wake FLTK through an eventfd watched
// with Fl::add_fd; the FLTK thread runs them from inside Fl::wait, so they also run while a message box has
// its own loop going, as sent window messages do on Windows.
//
// Not Fl::awake: FLTK reads its awake pipe with a blocking read from inside the loop that saw it readable.
// When a nested loop (a message box, Exit's wait for the worker) has emptied the pipe in between (the
// X connection's events, handled first, ran that loop), the outer loop then blocks in that read for good:
// the window program hung after Exit with no thread left to write. The eventfd is read without blocking.
class CallQueue {
 public:
  // On the FLTK thread, as is everything that closes it or destroys it.
  CallQueue();
  ~CallQueue();
  CallQueue(const CallQueue&) = delete;
  CallQueue& operator=(const CallQueue&) = delete;

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
  static void OnWake(int fd, void* queue);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Call> calls_;
  bool closed_ = false;
  int wakeFd_ = -1;  // the eventfd; -1 once closed
};

}  // namespace kt
