#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "programming/dialog_window.h"

namespace kt {

// A window without a platform behind it: one "window thread" owns a queue of calls, other threads send
// or post to it, and the control state lives in maps. The console front-end and the headless test window
// both build on it; they only add how a message box is shown.
//
// The window thread is the thread that constructed the object until RunMessageLoop (or BindToCurrentThread)
// is called on another one. Sending from the window thread runs the call at once, as SendMessage does.
class MessageQueueWindow : public DialogWindow {
 public:
  MessageQueueWindow();
  ~MessageQueueWindow() override;
  MessageQueueWindow(const MessageQueueWindow&) = delete;
  MessageQueueWindow& operator=(const MessageQueueWindow&) = delete;

  // --- DialogWindow ---
  void SetWindowTitle(const std::string& title) override;
  void SetItemText(int id, const std::string& text) override;
  std::string GetItemText(int id) override;
  void EnableItem(int id, bool enable) override;
  void ShowItem(int id, bool show) override;
  void SetCheck(int id, bool checked) override;
  bool IsChecked(int id) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPos(int id, int pos) override;
  void EndDialog(int result) override;
  void SendToWindowThread(const std::function<void()>& fn) override;
  void PostToWindowThread(std::function<void()> fn) override;
  bool PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& done) override;

  // Makes the calling thread the window thread and handles messages until EndDialog (or Close). Returns
  // the result given to EndDialog, kIdCancel when the window was closed without one.
  int RunMessageLoop();

  // Ends the queue for good: queued calls are dropped, senders waiting on a call that has not started are
  // released, and every later send or post is refused. A call already running finishes first.
  void Close();

  bool IsWindowThread() const;

  // Waits until a call is queued (or the queue is closed) without running it: lets a test hold the
  // window thread until another thread's call is known to be waiting.
  void WaitForQueuedCall();

  // The control state, readable from any thread. Controls never touched count as enabled and shown.
  std::string WindowTitle() const;
  bool IsEnabled(int id) const;
  bool IsShown(int id) const;
  int ProgressPos(int id) const;
  std::pair<int, int> ProgressRange(int id) const;
  std::optional<int> DialogResult() const;

 protected:
  void BindToCurrentThread();
  // Handles messages on the calling thread (which must be the window thread) until Close.
  void RunUntilClosed();
  // Every change of the window's state, in a readable form ("progress|50", "enable|1002|1", ...), on the
  // window thread. Derived windows log or show it.
  virtual void OnWindowCall(const std::string& entry) { (void)entry; }

 private:
  struct SendState {
    bool done = false;
  };
  struct Message {
    std::function<void()> fn;
    SendState* send = nullptr;  // null for a posted call
  };

  // Runs queued calls until stop() holds; mutex_ is held on entry and exit.
  void RunLoop(std::unique_lock<std::mutex>& lock, const std::function<bool()>& stop);
  // Takes the next call off the queue and runs it without the lock held.
  void RunOne(std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex_;
  std::condition_variable queueChanged_;  // the window thread waits for work here
  std::condition_variable sendDone_;      // senders wait for their call here
  std::deque<Message> queue_;
  std::thread::id windowThread_;
  bool closed_ = false;
  std::optional<int> dialogResult_;

  mutable std::mutex stateMutex_;
  std::string title_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
  std::map<int, bool> shown_;
  std::map<int, bool> checks_;
  std::map<int, int> progressPos_;
  std::map<int, std::pair<int, int>> progressRange_;
};

}  // namespace kt
