#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "app/fltk/app_icon.h"
#include "app/fltk/call_queue.h"
#include "app/fltk/dialog_layout.h"
#include "app/fltk/window_trace.h"
#include "programming/dialog_window.h"

class Fl_Double_Window;
class Fl_Widget;

namespace kt {

// The main dialog's window on Linux: template 102 built from FLTK widgets at the template's positions
// (see DluToPixelsX/Y), fixed in size. The thread that constructs it is the window's thread, and must be
// the one that runs FLTK.
//
// Differences from the Windows dialog that FLTK imposes: the ID fields' text is left-aligned (Fl_Input
// cannot centre), and the title bar's close and minimise boxes are removed by asking the window manager
// (Motif hints), which some window managers ignore; closing the window then acts as Esc does.
class FltkDialogWindow final : public DialogWindow {
 public:
  // `applicationName` is the caption of message boxes that have none of their own. `simulatedBoard` adds
  // kSimulatedBoardLabel to the template's controls.
  FltkDialogWindow(std::string applicationName, WindowTrace& trace, bool simulatedBoard = false);
  ~FltkDialogWindow() override;
  FltkDialogWindow(const FltkDialogWindow&) = delete;
  FltkDialogWindow& operator=(const FltkDialogWindow&) = delete;

  // Where button clicks go (by control ID), and Esc or closing the window (as kIdCancel).
  void SetCommandHandler(std::function<void(int id)> handler) { commandHandler_ = std::move(handler); }

  // Shows the window with the focus on Exit and handles events until EndDialog; returns its result.
  int RunModal();

  // --- DialogWindow ---
  void SetWindowTitle(const std::string& title) override;
  void SetItemText(int id, const std::string& text) override;
  std::string GetItemText(int id) override;
  void EnableItem(int id, bool enable) override;
  void ShowItem(int id, bool show) override;
  void SetCheck(int id, bool checked) override;
  bool IsChecked(int id) override;
  void SetProgressRange(int id, int low, int high) override;
  void SetProgressPos(int id, int pos) override;
  void MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void EndDialog(int result) override;
  void SendToWindowThread(const std::function<void()>& fn) override;
  void PostToWindowThread(std::function<void()> fn) override;
  bool PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& done) override;

 private:
  struct Control {
    ControlKind kind;
    Fl_Widget* widget;
  };

  void Build(bool simulatedBoard);
  Control* Find(int id);
  bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }
  // Writes every control's state to the trace: what the operator sees now.
  void TraceControls();

  std::string applicationName_;
  WindowTrace& trace_;
  std::thread::id windowThread_;
  std::shared_ptr<CallQueue> calls_;
  AppIcon icon_;
  std::unique_ptr<Fl_Double_Window> window_;
  std::map<int, Control> controls_;
  std::function<void(int)> commandHandler_;
  std::optional<int> result_;
};

}  // namespace kt
