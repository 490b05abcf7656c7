#include "app/headless/headless_window.h"

#include <algorithm>
#include <future>
#include <utility>

namespace kt {

HeadlessWindow::HeadlessWindow() {
  std::promise<void> bound;
  std::future<void> ready = bound.get_future();
  thread_ = std::thread([this, &bound] {
    BindToCurrentThread();
    bound.set_value();
    RunUntilClosed();
  });
  // Nothing may be sent before the thread has taken the window over.
  ready.wait();
}

HeadlessWindow::~HeadlessWindow() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  Close();
  thread_.join();
}

std::string HeadlessWindow::BoxEntry(const std::string& text, const std::string& caption, MessageIcon icon) {
  return "box|" + text + "|" + caption + "|" + MessageIconName(icon);
}

void HeadlessWindow::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  const std::string entry = BoxEntry(text, caption, icon);
  OnWindowCall(entry);
  std::unique_lock<std::mutex> lock(mutex_);
  const auto held = std::find_if(holdPrefixes_.begin(), holdPrefixes_.end(),
                                 [&](const std::string& prefix) { return entry.rfind(prefix, 0) == 0; });
  if (held == holdPrefixes_.end()) return;
  holdPrefixes_.erase(held);
  boxHeld_ = true;
  answerHeld_ = false;
  changed_.notify_all();
  changed_.wait(lock, [this] { return answerHeld_ || closing_; });
  boxHeld_ = false;
}

bool HeadlessWindow::PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs,
                                       const std::function<bool()>& done) {
  OnWindowCall("pump|" + std::to_string(timeoutMs));
  return MessageQueueWindow::PumpMessagesUntil(clock, timeoutMs, done);
}

std::vector<std::string> HeadlessWindow::Calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

void HeadlessWindow::ClearCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_.clear();
}

std::vector<std::string> HeadlessWindow::Boxes() const {
  std::vector<std::string> boxes;
  for (const std::string& call : Calls()) {
    if (call.rfind("box|", 0) == 0) boxes.push_back(call);
  }
  return boxes;
}

bool HeadlessWindow::WaitForCall(const std::string& entry, std::size_t occurrence,
                                 std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, bound, [&] {
    return static_cast<std::size_t>(std::count(calls_.begin(), calls_.end(), entry)) >= occurrence;
  });
}

void HeadlessWindow::OnCall(const std::string& entry, std::function<void()> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  triggers_.push_back(Trigger{entry, std::move(callback)});
}

void HeadlessWindow::HoldBox(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  holdPrefixes_.push_back(prefix);
}

bool HeadlessWindow::WaitForHeldBox() {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kSafetyBound, [this] { return boxHeld_; });
}

void HeadlessWindow::AnswerHeldBox() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answerHeld_ = true;
  }
  changed_.notify_all();
}

void HeadlessWindow::OnWindowCall(const std::string& entry) {
  std::vector<std::function<void()>> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(entry);
    for (auto it = triggers_.begin(); it != triggers_.end();) {
      if (it->entry == entry) {
        due.push_back(std::move(it->callback));
        it = triggers_.erase(it);
      } else {
        ++it;
      }
    }
  }
  changed_.notify_all();
  for (const auto& callback : due) callback();
}

}  // namespace kt
