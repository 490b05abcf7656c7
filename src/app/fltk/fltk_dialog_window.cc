#include "app/fltk/fltk_dialog_window.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "app/fltk/dialog_widgets.h"
#include "app/fltk/message_box.h"
#include "app/fltk/x11_windows.h"

namespace kt {
namespace {

Fl_Align LabelAlign(TextAlign align) {
  switch (align) {
    case TextAlign::kCentre:
      return FL_ALIGN_CENTER | FL_ALIGN_INSIDE;
    case TextAlign::kRight:
      return FL_ALIGN_RIGHT | FL_ALIGN_INSIDE;
    case TextAlign::kLeft:
      break;
  }
  return FL_ALIGN_LEFT | FL_ALIGN_INSIDE;
}

}  // namespace

FltkDialogWindow::FltkDialogWindow(std::string applicationName, WindowTrace& trace, bool simulatedBoard)
    : applicationName_(std::move(applicationName)),
      trace_(trace),
      windowThread_(std::this_thread::get_id()),
      calls_(std::make_shared<CallQueue>()) {
  Build(simulatedBoard);
}

FltkDialogWindow::~FltkDialogWindow() {
  // A worker still sending (past Exit's bound) must not wait for a window that is gone.
  calls_->Close();
  window_.reset();
}

void FltkDialogWindow::Build(bool simulatedBoard) {
  window_ = std::make_unique<Fl_Double_Window>(DluToPixelsX(kTemplateWidth), DluToPixelsY(kTemplateHeight));
  window_->copy_label(std::string(kTemplateCaption).c_str());
  // Fixed size: minimum and maximum are the same, so the window manager offers no resizing or maximise.
  window_->size_range(window_->w(), window_->h(), window_->w(), window_->h());
  window_->icons(icon_.Images(), icon_.Count());
  window_->xclass("KT701xWriteEepromMP");
  std::vector<ControlTemplate> templates(kDialogTemplate.begin(), kDialogTemplate.end());
  if (simulatedBoard) templates.push_back(kSimulatedBoardLabel);
  for (const ControlTemplate& t : templates) {
    const int x = DluToPixelsX(t.x), y = DluToPixelsY(t.y);
    const int w = DluToPixelsX(t.width), h = DluToPixelsY(t.height);
    const std::string text(t.text);
    Fl_Widget* widget = nullptr;
    switch (t.kind) {
      case ControlKind::kPushButton:
      case ControlKind::kDefaultButton:
        widget = new DialogButton(x, y, w, h, nullptr, t.kind == ControlKind::kDefaultButton);
        break;
      case ControlKind::kStatic:
        widget = new Fl_Box(x, y, w, h);
        widget->align(LabelAlign(t.align));
        break;
      case ControlKind::kEdit: {
        auto* input = new Fl_Input(x, y, w, h);
        input->textsize(kDialogFontPixels);
        input->value(text.c_str());
        widget = input;
        break;
      }
      case ControlKind::kCheckBox:
        widget = new Fl_Check_Button(x, y, w, h);
        widget->align(LabelAlign(t.align));
        break;
      case ControlKind::kProgress: {
        auto* progress = new BlockProgress(x, y, w, h);
        progress->box(FL_DOWN_BOX);
        progress->color(FL_BACKGROUND_COLOR);
        progress->selection_color(fl_rgb_color(0, 0, 128));
        widget = progress;
        break;
      }
    }
    if (t.kind != ControlKind::kEdit) widget->copy_label(text.empty() ? nullptr : text.c_str());
    widget->labelsize(kDialogFontPixels);
    // Statics take no focus; everything else is a tab stop, in template order.
    if (t.kind == ControlKind::kStatic) widget->clear_visible_focus();
    if (t.kind == ControlKind::kPushButton || t.kind == ControlKind::kDefaultButton) {
      widget->callback(
          [](Fl_Widget* w, void* data) {
            auto* self = static_cast<FltkDialogWindow*>(w->window()->user_data());
            if (self->commandHandler_)
              self->commandHandler_(static_cast<int>(reinterpret_cast<std::intptr_t>(data)));
          },
          reinterpret_cast<void*>(static_cast<std::intptr_t>(t.id)));
    }
    if (t.hiddenByTemplate) widget->hide();
    controls_[t.id] = {t.kind, widget};
  }
  if (simulatedBoard) {
    Fl_Widget* label = controls_.at(kSimulatedBoardLabel.id).widget;
    label->labelcolor(FL_RED);
    label->labelfont(FL_HELVETICA_BOLD);
  }
  window_->end();
  window_->user_data(this);
  // Esc and the window manager's close request: the dialog's cancel, which stops the worker first.
  window_->callback([](Fl_Widget* w, void*) {
    auto* self = static_cast<FltkDialogWindow*>(w->user_data());
    if (self->commandHandler_) self->commandHandler_(kIdCancel);
  });
}

FltkDialogWindow::Control* FltkDialogWindow::Find(int id) {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

int FltkDialogWindow::RunModal() {
  TraceControls();  // before the window appears, so that whoever sees the window finds the record
  window_->show();
  RemoveCloseAndMinimiseBoxes(*window_);
  if (Control* exit = Find(ctl::kExit)) exit->widget->take_focus();
  while (!result_) {
    calls_->Drain();
    if (result_) break;
    Fl::wait();
  }
  return *result_;
}

void FltkDialogWindow::SetWindowTitle(const std::string& title) {
  window_->copy_label(title.c_str());
  trace_.Write("title|" + title);
}

void FltkDialogWindow::SetItemText(int id, const std::string& text) {
  Control* c = Find(id);
  if (c == nullptr) return;
  if (c->kind == ControlKind::kEdit) {
    static_cast<Fl_Input*>(c->widget)->value(text.c_str());
  } else {
    c->widget->copy_label(text.c_str());
    // A label that shrinks leaves its old pixels behind unless the parent repaints the spot.
    window_->damage(FL_DAMAGE_ALL, c->widget->x(), c->widget->y(), c->widget->w(), c->widget->h());
  }
  c->widget->redraw();
  trace_.Write("text|" + std::to_string(id) + "|" + text);
}

std::string FltkDialogWindow::GetItemText(int id) {
  Control* c = Find(id);
  if (c == nullptr) return {};
  if (c->kind == ControlKind::kEdit) return static_cast<Fl_Input*>(c->widget)->value();
  const char* label = c->widget->label();
  return label == nullptr ? std::string() : label;
}

void FltkDialogWindow::EnableItem(int id, bool enable) {
  Control* c = Find(id);
  if (c == nullptr) return;
  if (enable) {
    c->widget->activate();
  } else {
    c->widget->deactivate();
  }
  trace_.Write("enable|" + std::to_string(id) + "|" + (enable ? "1" : "0"));
}

void FltkDialogWindow::ShowItem(int id, bool show) {
  Control* c = Find(id);
  if (c == nullptr) return;
  if (show) {
    c->widget->show();
  } else {
    c->widget->hide();
  }
  trace_.Write("show|" + std::to_string(id) + "|" + (show ? "1" : "0"));
}

void FltkDialogWindow::SetCheck(int id, bool checked) {
  Control* c = Find(id);
  if (c == nullptr || c->kind != ControlKind::kCheckBox) return;
  static_cast<Fl_Check_Button*>(c->widget)->value(checked ? 1 : 0);
  trace_.Write("check|" + std::to_string(id) + "|" + (checked ? "1" : "0"));
}

bool FltkDialogWindow::IsChecked(int id) {
  Control* c = Find(id);
  return c != nullptr && c->kind == ControlKind::kCheckBox &&
         static_cast<Fl_Check_Button*>(c->widget)->value() != 0;
}

void FltkDialogWindow::SetProgressRange(int id, int low, int high) {
  Control* c = Find(id);
  if (c == nullptr || c->kind != ControlKind::kProgress) return;
  auto* progress = static_cast<BlockProgress*>(c->widget);
  progress->minimum(static_cast<float>(low));
  progress->maximum(static_cast<float>(high));
  trace_.Write("range|" + std::to_string(id) + "|" + std::to_string(low) + "|" + std::to_string(high));
}

void FltkDialogWindow::SetProgressPos(int id, int pos) {
  Control* c = Find(id);
  if (c == nullptr || c->kind != ControlKind::kProgress) return;
  static_cast<BlockProgress*>(c->widget)->value(static_cast<float>(pos));
  trace_.Write("progress|" + std::to_string(id) + "|" + std::to_string(pos));
}

void FltkDialogWindow::MessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  const std::string shown = caption.empty() ? applicationName_ : caption;
  trace_.Write("box|" + text + "|" + shown + "|" + MessageIconName(icon));
  ShowMessageBox(window_.get(), text, shown, icon);
  trace_.Write("box-closed|" + text);
}

void FltkDialogWindow::EndDialog(int result) {
  result_ = result;
  window_->hide();
  trace_.Write("end|" + std::to_string(result));
}

void FltkDialogWindow::SendToWindowThread(const std::function<void()>& fn) {
  if (OnWindowThread()) {
    fn();
    return;
  }
  calls_->Send(fn);
}

void FltkDialogWindow::PostToWindowThread(std::function<void()> fn) {
  calls_->Post(std::move(fn));
}

bool FltkDialogWindow::PumpMessagesUntil(Clock& clock, std::uint32_t timeoutMs,
                                         const std::function<bool()>& done) {
  if (!OnWindowThread()) {
    std::unique_lock<std::mutex> lock(calls_->Mutex());
    return clock.WaitFor(lock, calls_->Changed(), timeoutMs, done);
  }
  // Measured on `clock`, and bounded in real time as well: a virtual clock does not move while we sit in
  // Fl::wait, so without the real bound a wait that nothing ends would never end.
  const std::uint64_t deadline = clock.NowMicros() + static_cast<std::uint64_t>(timeoutMs) * 1000;
  const auto realDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    calls_->Drain();
    if (done()) return true;
    const std::uint64_t now = clock.NowMicros();
    if (now >= deadline) return false;
    const auto realLeft = realDeadline - std::chrono::steady_clock::now();
    if (realLeft <= std::chrono::steady_clock::duration::zero()) {
      // Real time is up: let the clock's own time-out pass as well (no real wait on a real clock, whose
      // time is up too; a jump on a virtual one).
      clock.Sleep(static_cast<std::uint32_t>((deadline - now + 999) / 1000));
      return done();
    }
    const double left =
        std::min(static_cast<double>(deadline - now) / 1e6, std::chrono::duration<double>(realLeft).count());
    Fl::wait(left);
  }
}

void FltkDialogWindow::TraceControls() {
  trace_.Write("title|" + std::string(window_->label() ? window_->label() : ""));
  for (const auto& [id, c] : controls_) {
    trace_.Write("control|" + std::to_string(id) + "|" + (c.widget->visible() ? "shown" : "hidden") + "|" +
                 (c.widget->active() ? "enabled" : "disabled") + "|" + GetItemText(id));
  }
}

}  // namespace kt
