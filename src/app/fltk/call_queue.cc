#include "app/fltk/call_queue.h"

#include <FL/Fl.H>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace kt {

CallQueue::CallQueue() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  // Without the eventfd nothing wakes FLTK: calls then run only when the window's own loop drains them.
  if (wakeFd_ >= 0) Fl::add_fd(wakeFd_, FL_READ, OnWake, this);
}

CallQueue::~CallQueue() {
  Close();
}

void CallQueue::OnWake(int fd, void* queue) {
  // Nothing to read when a nested loop took this wake-up after the outer one saw it: returns at once.
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t got = read(fd, &count, sizeof(count));
  static_cast<CallQueue*>(queue)->Drain();
}

bool CallQueue::Push(Call call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    calls_.push_back(std::move(call));
    // Under the lock: Close takes the descriptor away under it. A full counter (never reached) would only
    // drop this wake-up; the one pending drains the whole queue.
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0) [[maybe_unused]] const ssize_t put = write(wakeFd_, &one, sizeof(one));
  }
  changed_.notify_all();
  return true;
}

void CallQueue::Send(const std::function<void()>& fn) {
  bool done = false;
  if (!Push({fn, &done})) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return done; });
}

void CallQueue::Post(std::function<void()> fn) {
  Push({std::move(fn), nullptr});
}

void CallQueue::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!calls_.empty()) {
    Call call = std::move(calls_.front());
    calls_.pop_front();
    lock.unlock();
    call.fn();
    lock.lock();
    if (call.done != nullptr) *call.done = true;
    changed_.notify_all();
  }
}

std::size_t CallQueue::Pending() {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_.size();
}

void CallQueue::WaitForCall() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !calls_.empty() || closed_; });
}

void CallQueue::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    if (wakeFd_ >= 0) {
      Fl::remove_fd(wakeFd_);
      close(wakeFd_);
      wakeFd_ = -1;
    }
    for (Call& call : calls_) {
      if (call.done != nullptr) *call.done = true;
    }
    calls_.clear();
  }
  changed_.notify_all();
}

}  // namespace kt
