#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "app/cli/cli_output.h"
#include "app/message_queue_window.h"

namespace kt {

class EnterPrompt;

// Where the console front-end talks to the operator, and what kind of thing each stream is.
struct ConsoleIo {
  std::ostream& out;  // message boxes and results
  std::ostream& err;  // progress, prompts, errors
  std::istream& in;   // Enter after the re-plug message
  bool inIsTerminal = false;
  bool errIsTerminal = false;
  // Reads Enter at the re-plug prompt so that an interrupt can end the wait; null: `in` is read.
  EnterPrompt* prompt = nullptr;
};

// The dialog's window on a console: message boxes become lines on standard output, the progress bar goes
// to standard error, and the re-plug box waits for Enter when someone sits at a terminal.
class ConsoleWindow final : public MessageQueueWindow {
 public:
  // `waitForEnter`: the re-plug box waits for Enter (only when input is a terminal).
  ConsoleWindow(ConsoleIo& io, CliOutput& output, bool waitForEnter);

  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
  // The re-plug box waits for Enter when someone sits at the terminal.
  void ResultBox(const ShownResult& result, const std::string& caption, MessageIcon icon) override;
  void SetProgressPos(int id, int pos) override;

  // Boxes and progress steps so far: the job's signs of life (window thread).
  std::uint64_t Activity() const { return activity_; }

 private:
  ConsoleIo& io_;
  CliOutput& output_;
  bool waitForEnter_;
  int lastProgress_ = -1;
  std::uint64_t activity_ = 0;
};

}  // namespace kt
