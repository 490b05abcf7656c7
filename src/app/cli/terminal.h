#pragma once

#include <memory>

namespace kt {

// Whether the process's standard input / standard error is an interactive terminal.
bool StdinIsTerminal();
bool StderrIsTerminal();

// Before anything is written: a reader that goes away must make a write fail, not kill the process in
// the middle of a job (SIGPIPE, and SIGXFSZ at a file size limit, are ignored), and a standard stream
// that was closed gets a stand-in that fails every write, so that no file the run opens later takes its
// number and receives what was meant for the stream.
void PrepareStandardStreams();

// Standard output carries bytes as they are (on Windows, no LF to CR LF translation).
void SetStdoutBinary();

// The operator's Enter at the re-plug prompt, read straight from standard input so that Ctrl-C can end
// the wait (a read blocked in the stream library could not be).
class EnterPrompt {
 public:
  virtual ~EnterPrompt() = default;
  // Until a line has been entered (true), or input has ended or Cancel was called (false).
  virtual bool WaitForEnter() = 0;
  // From any thread: a wait under way, or any later one, returns false at once.
  virtual void Cancel() = 0;
};

// Null when the platform cannot wait that way; the prompt then reads the stream as before.
std::unique_ptr<EnterPrompt> OpenStdinPrompt();

}  // namespace kt
