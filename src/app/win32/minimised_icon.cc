#include "app/win32/minimised_icon.h"

namespace kt {

IconOrigin CentredIconOrigin(int clientWidth, int clientHeight, int iconWidth, int iconHeight) {
  return IconOrigin{(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

void PaintMinimised(HWND window, HICON icon) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(window, &client);
  const IconOrigin origin =
      CentredIconOrigin(client.right - client.left, client.bottom - client.top, iconWidth, iconHeight);
  if (icon != nullptr) DrawIcon(dc, origin.x, origin.y, icon);
  EndPaint(window, &paint);
}

}  // namespace kt
