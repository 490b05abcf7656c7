#include "app/win32/write_eeprom_app.h"

// clang-format off
#include "app/win32/windows_api.h"  // before the other system headers, which use its types
#include <commctrl.h>
// clang-format on

#include <memory>
#include <optional>
#include <utility>

#include "app/target_board.h"
#include "app/win32/app_name.h"
#include "app/win32/dialog_host.h"
#include "app/win32/station_window.h"
#include "app/win32/win32_dialog_window.h"
#include "app/win32/window_notified_backend.h"
#include "app/window_command_line.h"
#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/sim/sim_options.h"

namespace kt {
namespace {

bool ValidWindow(HWND window) {
  return window != nullptr && window != reinterpret_cast<HWND>(INVALID_HANDLE_VALUE);
}

}  // namespace

bool CKT701xWriteEepromMPApp::InitInstance() {
  // 8 is the size of the record; 0xFF (ICC_WIN95_CLASSES) includes the progress bar. The result does not
  // matter: without it the dialog simply fails to show its progress bar.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);

  // One copy per machine, found by the exact title the running copy gives its window. A copy that is
  // still starting up carries the template's caption and is not found.
  HWND running = FindWindowA(nullptr, kWindowTitle);
  if (ValidWindow(running)) {
    SetForegroundWindow(running);
    return false;
  }

  const std::string applicationName = ApplicationName();
  WindowStart start;
  if (std::string error; !PrepareWindowStart(args_, start, error)) {
    MessageBoxA(nullptr, error.c_str(), applicationName.c_str(), MB_OK | MB_ICONHAND);
    exitStatus_ = kWindowRefusedStatus;
    return false;
  }
  if (start.options.station) {
    exitStatus_ = RunStationWindow(GetModuleHandleA(nullptr), start, applicationName);
    return false;
  }
  const std::optional<std::string>& simulate = start.options.simulate;

  TargetBoard target = MakeTargetBoard(simulate ? &start.sim : nullptr);
  // The simulated board tells its re-plugs only to the backend's listener; a real one tells the window.
  if (!simulate) target.backend = std::make_unique<WindowNotifiedBackend>(std::move(target.backend));

  {
    Win32DialogWindow window(applicationName);
    CKT701xWriteEepromMPDlg dialog(window, *target.backend, *target.clock);
    Win32DialogHost host(GetModuleHandleA(nullptr), window, dialog, simulate.has_value());
    if (start.image) host.SetAfterInit([&] { dialog.UseImageFile(*start.options.imageFile, start.image); });
    // The result of the modal run does not matter: Exit and Esc both stop the worker and end it.
    host.DoModal();
    // The dialog goes here, before the window record it talks to and before the backend.
  }
  return false;
}

}  // namespace kt
