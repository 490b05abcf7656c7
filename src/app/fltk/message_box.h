#pragma once

#include <string>

#include "programming/dialog_window.h"

class Fl_Window;

namespace kt {

// A modal message box in the manner of MessageBox(MB_OK): caption, icon, text and one "OK" button
// (FLTK's own fl_message says "Close" and has no error icon). Returns when the operator presses OK,
// Enter, Esc or closes the box. Events, and calls sent to the window's thread, go on meanwhile.
void ShowMessageBox(Fl_Window* owner, const std::string& text, const std::string& caption, MessageIcon icon);

}  // namespace kt
