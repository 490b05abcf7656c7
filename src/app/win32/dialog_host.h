#pragma once

#include <functional>
#include <utility>

#include "app/win32/win32_dialog_window.h"
#include "app/win32/windows_api.h"
#include "app/write_eeprom_dialog.h"

namespace kt {

// The label a run against the simulated board (--simulate) adds to the dialog, so that a run that programs
// nothing cannot pass for a real one: its text, and its place in dialog units, in the free stretch of the
// bottom row between the hidden version fields and the hidden "Erase EEPROM".
inline constexpr char kSimulatedBoardText[] = "SIMULATED BOARD";
inline constexpr RECT kSimulatedBoardRect = {81, 79, 191, 87};

// What the framework's CDialog did for the main dialog: runs template 102 modally and turns its window
// messages into the dialog class's handlers. The dialog class knows nothing of Win32.
class Win32DialogHost {
 public:
  // `simulatedBoard`: the dialog shows the simulated-board label.
  Win32DialogHost(HINSTANCE instance, Win32DialogWindow& window, CKT701xWriteEepromMPDlg& dialog,
                  bool simulatedBoard);
  ~Win32DialogHost();
  Win32DialogHost(const Win32DialogHost&) = delete;
  Win32DialogHost& operator=(const Win32DialogHost&) = delete;

  // Run on the window's thread right after the dialog's own initialisation.
  void SetAfterInit(std::function<void()> afterInit) { afterInit_ = std::move(afterInit); }
  // The modal run; the result EndDialog gave, or -1 when the dialog could not be created.
  INT_PTR DoModal();

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND dialog);
  void RegisterUsbNotification(HWND dialog);
  void AddSimulatedBoardLabel(HWND dialog);
  void OnDestroy();
  // Answers a message with `result`, the way a dialog procedure has to.
  static INT_PTR Answer(HWND dialog, LRESULT result);

  HINSTANCE instance_;
  Win32DialogWindow& window_;
  CKT701xWriteEepromMPDlg& dialog_;
  HICON icon_;  // shared icon from LoadIconA: never destroyed
  HDEVNOTIFY deviceNotification_ = nullptr;
  bool simulatedBoard_;
  HFONT boldFont_ = nullptr;  // the simulated-board label's
  std::function<void()> afterInit_;
};

}  // namespace kt
