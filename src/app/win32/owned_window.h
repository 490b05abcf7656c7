#pragma once

#include "app/win32/windows_api.h"

namespace kt {

// The window procedure of a class whose windows each belong to an object of type T: the object passed as
// CreateWindowEx's last argument gets every message from WM_NCCREATE on in its
// `LRESULT Handle(HWND, UINT, WPARAM, LPARAM)` (T befriends this), the few before it go to the defaults.
template <class T>
LRESULT CALLBACK OwnedWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrA(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
  }
  auto* owner = reinterpret_cast<T*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (owner == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return owner->Handle(window, message, wParam, lParam);
}

}  // namespace kt
