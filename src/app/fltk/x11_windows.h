#pragma once

#include <string>

class Fl_Window;

namespace kt {

// What the window program asks of X11 beyond FLTK, on FLTK's own display connection.

// Asks the window manager (Motif hints, which most of them honour) for a title bar without close,
// minimise and maximise boxes: the dialog has no system menu. The window must be shown.
void RemoveCloseAndMinimiseBoxes(Fl_Window& window);

// The single-instance rule: looks through the top-level windows (and, under a window manager, the
// client windows inside its frames) for one whose whole title is `title` (_NET_WM_NAME, else WM_NAME),
// hidden ones included. When found, asks for it to be raised and activated and returns true.
bool RaiseWindowWithTitle(const std::string& title);

}  // namespace kt
