#include "app/message_queue_window.h"

namespace kt {

namespace {

std::string Flag(bool value) {
  return value ? "1" : "0";
}

template <typename Map, typename Value>
Value Lookup(const Map& map, int id, Value fallback) {
  const auto it = map.find(id);
  return it == map.end() ? fallback : it->second;
}

}  // namespace

MessageQueueWindow::MessageQueueWindow() : windowThread_(std::this_thread::get_id()) {}

MessageQueueWindow::~MessageQueueWindow() {
  Close();
}

void MessageQueueWindow::SetWindowTitle(const std::string& title) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    title_ = title;
  }
  OnWindowCall("title|" + title);
}

void MessageQueueWindow::SetItemText(int id, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    texts_[id] = text;
  }
  OnWindowCall("text|" + std::to_string(id) + "|" + text);
}

std::string MessageQueueWindow::GetItemText(int id) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return Lookup(texts_, id, std::string());
}

void MessageQueueWindow::EnableItem(int id, bool enable) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    enabled_[id] = enable;
  }
  OnWindowCall("enable|" + std::to_string(id) + "|" + Flag(enable));
}

void MessageQueueWindow::ShowItem(int id, bool show) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    shown_[id] = show;
  }
  OnWindowCall("show|" + std::to_string(id) + "|" + Flag(show));
}

void MessageQueueWindow::SetCheck(int id, bool checked) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    checks_[id] = checked;
  }
  OnWindowCall("check|" + std::to_string(id) + "|" + Flag(checked));
}

bool MessageQueueWindow::IsChecked(int id) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return Lookup(checks_, id, false);
}

void MessageQueueWindow::SetProgressRange(int id, int low, int high) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    progressRange_[id] = {low, high};
  }
  OnWindowCall("range|" + std::to_string(id) + "|" + std::to_string(low) + "|" + std::to_string(high));
}

void MessageQueueWindow::SetProgressPos(int id, int pos) {
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    progressPos_[id] = pos;
  }
  // The dialog has one progress bar, so its entry leaves the ID out.
  OnWindowCall(id == ctl::kProgress ? "progress|" + std::to_string(pos)
                                    : "progress|" + std::to_string(id) + "|" + std::to_string(pos));
}

void MessageQueueWindow::EndDialog(int result) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!dialogResult_) dialogResult_ = result;
  }
  queueChanged_.notify_all();
  OnWindowCall("end|" + std::to_string(result));
}

std::string MessageQueueWindow::WindowTitle() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return title_;
}

bool MessageQueueWindow::IsEnabled(int id) const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return Lookup(enabled_, id, true);
}

bool MessageQueueWindow::IsShown(int id) const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return Lookup(shown_, id, true);
}

int MessageQueueWindow::ProgressPos(int id) const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return Lookup(progressPos_, id, 0);
}

std::pair<int, int> MessageQueueWindow::ProgressRange(int id) const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return Lookup(progressRange_, id, std::pair<int, int>(0, 100));
}

std::optional<int> MessageQueueWindow::DialogResult() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dialogResult_;
}

bool MessageQueueWindow::IsWindowThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return windowThread_ == std::this_thread::get_id();
}

void MessageQueueWindow::WaitForQueuedCall() {
  std::unique_lock<std::mutex> lock(mutex_);
  queueChanged_.wait(lock, [this] { return !queue_.empty() || closed_; });
}

void MessageQueueWindow::BindToCurrentThread() {
  std::lock_guard<std::mutex> lock(mutex_);
  windowThread_ = std::this_thread::get_id();
}

void MessageQueueWindow::SendToWindowThread(const std::function<void()>& fn) {
  if (IsWindowThread()) {
    fn();
    return;
  }
  SendState state;
  std::unique_lock<std::mutex> lock(mutex_);
  if (closed_) return;
  queue_.push_back(Message{fn, &state});
  queueChanged_.notify_all();
  // Close() marks a call that never started as done, so this cannot outlast the window's queue.
  sendDone_.wait(lock, [&] { return state.done; });
}

void MessageQueueWindow::PostToWindowThread(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    queue_.push_back(Message{std::move(fn), nullptr});
  }
  queueChanged_.notify_all();
}

bool MessageQueueWindow::PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs,
                                           const std::function<bool()>& done) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (windowThread_ != std::this_thread::get_id()) {
    // Not ours to pump: the window thread runs the calls; this thread only waits. Whoever makes done()
    // true posts something, which wakes this wait too.
    return clock.WaitFor(lock, queueChanged_, timeoutMs, done);
  }
  const std::uint64_t deadline = clock.NowMicros() + static_cast<std::uint64_t>(timeoutMs) * 1000;
  for (;;) {
    while (!queue_.empty()) RunOne(lock);
    lock.unlock();
    const bool finished = done();
    lock.lock();
    if (finished) return true;
    const std::uint64_t now = clock.NowMicros();
    if (now >= deadline || closed_) return false;
    const auto remainingMs = static_cast<std::uint32_t>((deadline - now + 999) / 1000);
    clock.WaitFor(lock, queueChanged_, remainingMs, [this] { return !queue_.empty() || closed_; });
  }
}

int MessageQueueWindow::RunMessageLoop() {
  BindToCurrentThread();
  std::unique_lock<std::mutex> lock(mutex_);
  RunLoop(lock, [this] { return dialogResult_.has_value(); });
  return dialogResult_.value_or(kIdCancel);
}

void MessageQueueWindow::RunUntilClosed() {
  std::unique_lock<std::mutex> lock(mutex_);
  RunLoop(lock, [] { return false; });
}

void MessageQueueWindow::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (Message& message : queue_) {
      if (message.send) message.send->done = true;
    }
    queue_.clear();
  }
  queueChanged_.notify_all();
  sendDone_.notify_all();
}

void MessageQueueWindow::RunLoop(std::unique_lock<std::mutex>& lock, const std::function<bool()>& stop) {
  for (;;) {
    queueChanged_.wait(lock, [&] { return !queue_.empty() || closed_ || stop(); });
    if (closed_ || stop()) return;
    RunOne(lock);
  }
}

void MessageQueueWindow::RunOne(std::unique_lock<std::mutex>& lock) {
  Message message = std::move(queue_.front());
  queue_.pop_front();
  lock.unlock();
  message.fn();
  lock.lock();
  if (message.send) {
    message.send->done = true;
    sendDone_.notify_all();
  }
}

}  // namespace kt
