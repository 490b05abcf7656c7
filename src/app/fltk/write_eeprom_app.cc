#include "app/fltk/write_eeprom_app.h"

#include <FL/Fl.H>

#include <filesystem>
#include <memory>
#include <optional>

#include "app/fltk/fltk_dialog_window.h"
#include "app/fltk/message_box.h"
#include "app/fltk/station_window.h"
#include "app/fltk/window_trace.h"
#include "app/fltk/x11_windows.h"
#include "app/target_board.h"
#include "app/window_command_line.h"
#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/sim/sim_options.h"

namespace kt {

int RunWriteEepromApp(const std::string& programPath, const std::vector<std::string>& args) {
  WindowTrace trace;
  const std::string applicationName = std::filesystem::path(programPath).stem().string();

  WindowStart start;
  if (std::string error; !PrepareWindowStart(args, start, error)) {
    trace.Write("box|" + error + "|" + applicationName + "|error");
    ShowMessageBox(nullptr, error, applicationName, MessageIcon::kError);
    return kWindowRefusedStatus;
  }
  if (start.options.station) return RunStationWindow(applicationName, start, trace);

  // One copy per display, found by the exact title the running copy gives its window. A copy that is
  // still starting up carries the template's caption and is not found.
  if (RaiseWindowWithTitle(kWindowTitle)) {
    trace.Write("single-instance|raised the running copy");
    return 0;
  }
  const std::optional<std::string>& simulate = start.options.simulate;

  TargetBoard target = MakeTargetBoard(simulate ? &start.sim : nullptr);

  {
    FltkDialogWindow window(applicationName, trace, simulate.has_value());
    CKT701xWriteEepromMPDlg dialog(window, *target.backend, *target.clock);
    window.SetCommandHandler([&dialog](int id) { dialog.OnCommand(id); });
    dialog.SetProbeObserver([&trace](int absent) { trace.Write("probe|" + std::to_string(absent)); });
    dialog.OnInitDialog();
    if (start.image) dialog.UseImageFile(*start.options.imageFile, start.image);
    // The result of the modal run does not matter: Exit and Esc both stop the worker and end it.
    window.RunModal();
    dialog.DestroyWindow();
    // The dialog goes here, before the window it talks to and before the backend.
  }
  return 0;
}

}  // namespace kt
