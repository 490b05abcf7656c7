#pragma once

#include "app/win32/win32_dialog_window.h"
#include "app/win32/windows_api.h"
#include "app/write_eeprom_dialog.h"

namespace kt {

// What the framework's CDialog did for the main dialog: runs template 102 modally and turns its window
// messages into the dialog class's handlers. The dialog class knows nothing of Win32.
class Win32DialogHost {
 public:
  Win32DialogHost(HINSTANCE instance, Win32DialogWindow& window, CKT701xWriteEepromMPDlg& dialog);
  Win32DialogHost(const Win32DialogHost&) = delete;
  Win32DialogHost& operator=(const Win32DialogHost&) = delete;

  // The modal run; the result EndDialog gave, or -1 when the dialog could not be created.
  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND dialog);
  void RegisterUsbNotification(HWND dialog);
  void OnDestroy();
  // Answers a message with `result`, the way a dialog procedure has to.
  static INT_PTR Answer(HWND dialog, LRESULT result);

  HINSTANCE instance_;
  Win32DialogWindow& window_;
  CKT701xWriteEepromMPDlg& dialog_;
  HICON icon_;  // shared icon from LoadIconA: never destroyed
  HDEVNOTIFY deviceNotification_ = nullptr;
};

}  // namespace kt
