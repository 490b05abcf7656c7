#include "app/win32/win32_dialog_window.h"

#include <commctrl.h>

#include <memory>
#include <utility>
#include <vector>

namespace kt {

UINT MessageBoxStyle(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kError:
      return MB_OK | MB_ICONHAND;
    case MessageIcon::kInformation:
      return MB_OK | MB_ICONASTERISK;
    case MessageIcon::kNone:
      break;
  }
  return MB_OK;
}

Win32DialogWindow::Win32DialogWindow(std::string applicationName)
    : threadId_(GetCurrentThreadId()),
      applicationName_(std::move(applicationName)),
      posted_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

Win32DialogWindow::~Win32DialogWindow() {
  Detach();
  if (posted_ != nullptr) CloseHandle(posted_);
}

void Win32DialogWindow::Attach(HWND dialog) {
  dialog_.store(dialog, std::memory_order_release);
}

void Win32DialogWindow::Detach() {
  std::lock_guard<std::mutex> lock(postMutex_);
  HWND dialog = dialog_.exchange(nullptr, std::memory_order_acq_rel);
  if (dialog == nullptr) return;
  // Posted calls still in the queue own their closures; free them without running them.
  MSG message;
  while (PeekMessageA(&message, dialog, kPostedCall, kPostedCall, PM_REMOVE)) {
    delete reinterpret_cast<std::function<void()>*>(message.lParam);
  }
}

bool Win32DialogWindow::HandleCall(UINT message, LPARAM lParam) {
  if (message == kSentCall) {
    (*reinterpret_cast<const std::function<void()>*>(lParam))();
    return true;
  }
  if (message == kPostedCall) {
    std::unique_ptr<std::function<void()>> fn(reinterpret_cast<std::function<void()>*>(lParam));
    (*fn)();
    return true;
  }
  return false;
}

void Win32DialogWindow::SetWindowTitle(const std::string& title) {
  SetWindowTextA(handle(), title.c_str());
}

void Win32DialogWindow::SetItemText(int id, const std::string& text) {
  SetDlgItemTextA(handle(), id, text.c_str());
}

std::string Win32DialogWindow::GetItemText(int id) {
  HWND item = GetDlgItem(handle(), id);
  if (item == nullptr) return std::string();
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(item)) + 1, '\0');
  const int length = GetWindowTextA(item, text.data(), static_cast<int>(text.size()));
  return std::string(text.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

void Win32DialogWindow::EnableItem(int id, bool enable) {
  EnableWindow(GetDlgItem(handle(), id), enable);
}

void Win32DialogWindow::ShowItem(int id, bool show) {
  ShowWindow(GetDlgItem(handle(), id), show ? SW_SHOW : SW_HIDE);
}

void Win32DialogWindow::SetCheck(int id, bool checked) {
  CheckDlgButton(handle(), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32DialogWindow::IsChecked(int id) {
  return IsDlgButtonChecked(handle(), id) == BST_CHECKED;
}

void Win32DialogWindow::SetProgressRange(int id, int low, int high) {
  SendDlgItemMessageA(handle(), id, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void Win32DialogWindow::SetProgressPos(int id, int pos) {
  SendDlgItemMessageA(handle(), id, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32DialogWindow::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  const std::string& shown = caption.empty() ? applicationName_ : caption;
  MessageBoxA(handle(), text.c_str(), shown.c_str(), MessageBoxStyle(icon));
}

void Win32DialogWindow::EndDialog(int result) {
  ::EndDialog(handle(), result);
}

void Win32DialogWindow::SendToWindowThread(const std::function<void()>& fn) {
  if (OnWindowThread()) {
    fn();
    return;
  }
  // Blocks until the dialog's thread has run it; that thread handles sent messages in its modal loop,
  // in message boxes and while it pumps. Without a window (gone already) there is no one to run it.
  HWND dialog = handle();
  if (dialog != nullptr) SendMessageA(dialog, kSentCall, 0, reinterpret_cast<LPARAM>(&fn));
}

void Win32DialogWindow::PostToWindowThread(std::function<void()> fn) {
  auto owned = std::make_unique<std::function<void()>>(std::move(fn));
  {
    std::lock_guard<std::mutex> lock(postMutex_);
    HWND dialog = handle();
    if (dialog != nullptr && PostMessageA(dialog, kPostedCall, 0, reinterpret_cast<LPARAM>(owned.get()))) {
      owned.release();  // the message owns it now; HandleCall or Detach frees it
    }
  }
  { std::lock_guard<std::mutex> lock(wakeMutex_); }
  wake_.notify_all();
  if (posted_ != nullptr) SetEvent(posted_);
}

bool Win32DialogWindow::DrainMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    HWND dialog = handle();
    if (dialog != nullptr && IsDialogMessageA(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

bool Win32DialogWindow::PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs,
                                          const std::function<bool()>& done) {
  if (!OnWindowThread()) {
    // Not this thread's messages to handle: wait for a post (whoever makes done() true posts).
    std::unique_lock<std::mutex> lock(wakeMutex_);
    return clock.WaitFor(lock, wake_, timeoutMs, done);
  }
  const std::uint64_t deadline = clock.NowMicros() + static_cast<std::uint64_t>(timeoutMs) * 1000;
  for (;;) {
    const bool running = DrainMessages();
    if (done()) return true;
    if (!running) return WaitWithoutPumping(clock, deadline, done);
    const std::uint64_t now = clock.NowMicros();
    if (now >= deadline) return false;
    const auto remainingMs = static_cast<DWORD>((deadline - now + 999) / 1000);
    const DWORD woken =
        MsgWaitForMultipleObjectsEx(0, nullptr, remainingMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken == WAIT_TIMEOUT || woken == WAIT_FAILED) {
      // The whole time-out has been waited for. A virtual clock that nobody moved meanwhile counts it as
      // passed all the same, as its own waits do.
      DrainMessages();
      return done();
    }
  }
}

// WM_QUIT is queued: the loop that owns this thread is ending, and a pump would only find the quit again
// at once (returning early would cut the worker off before its bound, and a caller that waits again
// would spin). So wait without taking posted messages, which stay queued behind the quit, but run the
// calls the worker sends (it may be waiting in one to show a box) and wake on every post (the worker posts
// as it ends).
bool Win32DialogWindow::WaitWithoutPumping(Clock& clock, std::uint64_t deadlineMicros,
                                           const std::function<bool()>& done) {
  MSG message;
  for (;;) {
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);  // sent messages only
    if (done()) return true;
    const std::uint64_t now = clock.NowMicros();
    if (now >= deadlineMicros) return false;
    const auto remainingMs = static_cast<DWORD>((deadlineMicros - now + 999) / 1000);
    const DWORD woken = posted_ != nullptr
                            ? MsgWaitForMultipleObjectsEx(1, &posted_, remainingMs, QS_SENDMESSAGE, 0)
                            : MsgWaitForMultipleObjectsEx(0, nullptr, remainingMs, QS_SENDMESSAGE, 0);
    if (woken == WAIT_TIMEOUT || woken == WAIT_FAILED) {
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      return done();
    }
  }
}

}  // namespace kt
