#include "app/cli/terminal.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <windows.h>

#include <atomic>

namespace kt {

// _isatty is true for any character device; NUL is one too, but nobody waits for Enter from it.
bool StdinIsTerminal() {
  return _isatty(_fileno(stdin)) != 0;
}
bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

// A write to a closed pipe fails here without a signal; nothing to prepare.
void PrepareStandardStreams() {}

void SetStdoutBinary() {
  fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
}

namespace {

// Waits on the console's input and an event Cancel sets; only a pressed Enter key ends the wait, every
// other console event (a key let go, the mouse, focus) is taken off the queue and the wait goes on.
class ConsolePrompt final : public EnterPrompt {
 public:
  ConsolePrompt()
      : input_(GetStdHandle(STD_INPUT_HANDLE)), cancel_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~ConsolePrompt() override {
    if (cancel_ != nullptr) CloseHandle(cancel_);
  }

  bool WaitForEnter() override {
    if (cancel_ == nullptr || input_ == nullptr || input_ == INVALID_HANDLE_VALUE) return false;
    for (;;) {
      const HANDLE handles[2] = {cancel_, input_};
      const DWORD which = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
      if (which != WAIT_OBJECT_0 + 1) return false;
      INPUT_RECORD record{};
      DWORD got = 0;
      if (!ReadConsoleInputW(input_, &record, 1, &got)) return false;
      if (got == 1 && record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
          record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
        return true;
      }
    }
  }

  void Cancel() override {
    if (cancel_ != nullptr) SetEvent(cancel_);
  }

 private:
  HANDLE input_;
  HANDLE cancel_;
};

}  // namespace

std::unique_ptr<EnterPrompt> OpenStdinPrompt() {
  return std::make_unique<ConsolePrompt>();
}

}  // namespace kt
