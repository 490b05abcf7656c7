#include "app/fltk/call_queue.h"

#include <FL/Fl.H>

#include <utility>

namespace kt {
namespace {

// FLTK keeps the awake callback's argument in a ring that may outlive the queue (a wake-up still pending
// when the window goes); a weak reference, freed by the callback, keeps that harmless.
void OnAwake(void* data) {
  std::unique_ptr<std::weak_ptr<CallQueue>> weak(static_cast<std::weak_ptr<CallQueue>*>(data));
  if (std::shared_ptr<CallQueue> queue = weak->lock()) queue->Drain();
}

}  // namespace

bool CallQueue::Push(Call call) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    calls_.push_back(std::move(call));
  }
  changed_.notify_all();
  auto* weak = new std::weak_ptr<CallQueue>(weak_from_this());
  // A full awake ring (-1) drops this wake-up, but one already in the ring drains the whole queue.
  if (Fl::awake(OnAwake, weak) != 0) delete weak;
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
    for (Call& call : calls_) {
      if (call.done != nullptr) *call.done = true;
    }
    calls_.clear();
  }
  changed_.notify_all();
}

}  // namespace kt
