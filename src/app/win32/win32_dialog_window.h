#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

#include "app/win32/windows_api.h"
#include "programming/dialog_window.h"

namespace kt {

// The dialog class's window on Win32: controls through their IDs on the dialog's HWND, message boxes
// owned by it, and calls from other threads carried to the dialog's thread as window messages (sent and
// waited for, or posted), as the framework's dialogs always handled the worker's calls.
class Win32DialogWindow final : public DialogWindow {
 public:
  // Private messages of the dialog: lParam carries the call.
  static constexpr UINT kSentCall = WM_APP + 0x10;
  static constexpr UINT kPostedCall = WM_APP + 0x11;

  // Constructed on the thread that will run the dialog. `applicationName` is the caption of boxes that
  // bring none of their own.
  explicit Win32DialogWindow(std::string applicationName);
  ~Win32DialogWindow() override;
  Win32DialogWindow(const Win32DialogWindow&) = delete;
  Win32DialogWindow& operator=(const Win32DialogWindow&) = delete;

  // WM_INITDIALOG: from here on the calls go to `dialog`.
  void Attach(HWND dialog);
  // WM_DESTROY: calls still queued are dropped (not run: the dialog is going), later ones refused.
  void Detach();
  HWND handle() const { return dialog_.load(std::memory_order_acquire); }

  // The dialog procedure's part for the private messages: runs the call. True when `message` was one.
  static bool HandleCall(UINT message, LPARAM lParam);

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
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void EndDialog(int result) override;
  void SendToWindowThread(const std::function<void()>& fn) override;
  void PostToWindowThread(std::function<void()> fn) override;
  bool PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& done) override;

 private:
  bool OnWindowThread() const { return GetCurrentThreadId() == threadId_; }
  // Handles every message waiting for this thread, sent ones included. False once WM_QUIT was seen (it
  // is put back for the loop that owns it).
  bool DrainMessages();
  // PumpMessagesUntil once WM_QUIT is queued: see there.
  bool WaitWithoutPumping(Clock& clock, std::uint64_t deadlineMicros, const std::function<bool()>& done);

  const DWORD threadId_;
  const std::string applicationName_;
  std::atomic<HWND> dialog_{nullptr};
  // Orders posts against Detach, so no call is posted to a window whose queue has been drained. Sends
  // cannot take it: they block until the window thread runs them.
  std::mutex postMutex_;
  // Lets a thread other than the window's wait in PumpMessagesUntil: every post wakes it.
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  // Set by every post (auto-reset), for the window thread's wait that leaves posted messages queued.
  HANDLE posted_;
};

// The MessageBoxA style for a box of the dialog: OK only, and the icon asked for.
UINT MessageBoxStyle(MessageIcon icon);

}  // namespace kt
