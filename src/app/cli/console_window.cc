#include "app/cli/console_window.h"

#include "app/write_eeprom_dialog.h"

namespace kt {

ConsoleWindow::ConsoleWindow(ConsoleIo& io, bool waitForEnter)
    : io_(io), waitForEnter_(waitForEnter && io.inIsTerminal), progress_(io.err, io.errIsTerminal) {}

void ConsoleWindow::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  (void)caption;
  (void)icon;
  messages_.push_back(text);
  progress_.Break();
  io_.out << text << "\n" << std::flush;
  // The re-plug box is the one box that asks the operator to do something before going on.
  if (text == prep_text::kReplug && waitForEnter_) {
    io_.err << "(press Enter once the board has been plugged in again) " << std::flush;
    std::string line;
    std::getline(io_.in, line);
  }
}

void ConsoleWindow::SetProgressPos(int id, int pos) {
  MessageQueueWindow::SetProgressPos(id, pos);
  if (id == ctl::kProgress) progress_.Update(pos);
}

}  // namespace kt
