#pragma once

#include "app/win32/windows_api.h"

namespace kt {

struct IconOrigin {
  int x;
  int y;
};

// Where the icon goes in a minimised window's client area: centred, rounding half a pixel up, with
// C++'s truncating division (the client may be smaller than the icon, and then the origin is negative).
IconOrigin CentredIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight);

// WM_PAINT of a minimised dialog: the icon on the erased background.
void PaintMinimised(HWND window, HICON icon);

}  // namespace kt
