#include "app/cli/console_window.h"

#include "app/cli/terminal.h"
#include "app/write_eeprom_dialog.h"

namespace kt {

ConsoleWindow::ConsoleWindow(ConsoleIo& io, CliOutput& output, bool waitForEnter)
    : io_(io), output_(output), waitForEnter_(waitForEnter && io.inIsTerminal) {}

void ConsoleWindow::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  ++activity_;
  output_.Box(text, caption, icon);
}

void ConsoleWindow::ResultBox(const ShownResult& result, const std::string& caption, MessageIcon icon) {
  MessageBox(result.text, caption, icon);
  // The re-plug box is the one box that asks the operator to do something before going on.
  if (result.step == ResultStep::kErase && result.ok() && waitForEnter_) {
    io_.err << "(press Enter once the board has been plugged in again) " << std::flush;
    if (io_.prompt != nullptr) {
      io_.prompt->WaitForEnter();
    } else {
      std::string line;
      std::getline(io_.in, line);
    }
  }
}

void ConsoleWindow::SetProgressPos(int id, int pos) {
  MessageQueueWindow::SetProgressPos(id, pos);
  if (id != ctl::kProgress || pos == lastProgress_) return;
  lastProgress_ = pos;
  ++activity_;
  output_.Progress(pos);
}

}  // namespace kt
