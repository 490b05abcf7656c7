#include "app/fltk/message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>

#include <algorithm>

#include "app/fltk/dialog_layout.h"
#include "app/fltk/dialog_widgets.h"

namespace kt {
namespace {

// The round error (white cross on red) and information (blue "i") icons of Windows' boxes.
class BoxIcon final : public Fl_Widget {
 public:
  BoxIcon(int x, int y, int size, MessageIcon icon) : Fl_Widget(x, y, size, size), icon_(icon) {}

 protected:
  void draw() override {
    if (icon_ == MessageIcon::kNone) return;
    const bool error = icon_ == MessageIcon::kError;
    fl_color(error ? fl_rgb_color(204, 0, 0) : fl_rgb_color(0, 90, 200));
    fl_pie(x(), y(), w(), h(), 0, 360);
    fl_color(FL_WHITE);
    if (error) {
      const int m = w() / 3;
      fl_line_style(FL_SOLID, std::max(2, w() / 10));
      fl_line(x() + m, y() + m, x() + w() - m, y() + h() - m);
      fl_line(x() + w() - m, y() + m, x() + m, y() + h() - m);
      fl_line_style(0);
    } else {
      fl_font(FL_TIMES_BOLD, h() * 2 / 3);
      fl_draw("i", x(), y(), w(), h(), FL_ALIGN_CENTER);
    }
  }

 private:
  MessageIcon icon_;
};

constexpr int kMargin = 16;
constexpr int kIconSize = 32;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 23;
constexpr int kMinimumWidth = 240;

}  // namespace

void ShowMessageBox(Fl_Window* owner, const std::string& text, const std::string& caption, MessageIcon icon) {
  fl_font(FL_HELVETICA, kDialogFontPixels + 1);
  int textW = 0, textH = 0;
  fl_measure(text.c_str(), textW, textH, 0);
  textW += 8;  // the label's own inset, so that measured lines are not wrapped again
  const int iconSpace = icon == MessageIcon::kNone ? 0 : kIconSize + kMargin;
  const int contentH = std::max(textH, icon == MessageIcon::kNone ? 0 : kIconSize);
  const int w = std::max(kMargin * 2 + iconSpace + textW, kMinimumWidth);
  const int h = kMargin + contentH + kMargin + kButtonHeight + kMargin / 2 + 4;

  Fl_Group::current(nullptr);  // a top-level window of its own, not a child of whatever is being built
  Fl_Window box(w, h);
  box.copy_label(caption.c_str());
  box.set_modal();
  BoxIcon iconWidget(kMargin, kMargin, kIconSize, icon);
  Fl_Box message(kMargin + iconSpace, kMargin, textW, contentH);
  message.copy_label(text.c_str());
  message.labelfont(FL_HELVETICA);
  message.labelsize(kDialogFontPixels + 1);
  message.align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
  DialogButton ok(w - kMargin - kButtonWidth, h - kButtonHeight - kMargin / 2 - 2, kButtonWidth,
                  kButtonHeight, "OK", true);
  ok.labelsize(kDialogFontPixels + 1);
  ok.callback([](Fl_Widget* b, void*) { b->window()->hide(); });
  box.end();
  // Esc and the close button answer the box as OK does: it has no other answer.
  box.callback([](Fl_Widget* w, void*) { w->hide(); });
  if (owner != nullptr && owner->shown()) {
    // Centred on the dialog, but never off the screen's top-left corner.
    box.position(std::max(0, owner->x() + (owner->w() - w) / 2),
                 std::max(0, owner->y() + (owner->h() - h) / 2));
  }
  box.show();
  ok.take_focus();
  while (box.shown()) Fl::wait();
}

}  // namespace kt
