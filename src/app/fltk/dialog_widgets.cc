#include "app/fltk/dialog_widgets.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <algorithm>

namespace kt {

DialogButton::DialogButton(int x, int y, int w, int h, const char* label, bool isDefault)
    : Fl_Button(x, y, w, h, label), isDefault_(isDefault) {
  if (isDefault_) shortcut(FL_Enter);
}

int DialogButton::handle(int event) {
  const bool enter = Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter;
  if (event == FL_KEYBOARD && enter && Fl::focus() == this && active_r()) {
    do_callback();
    return 1;
  }
  // Enter reaches the default button as a shortcut only when no other push button has the focus.
  if (event == FL_SHORTCUT && isDefault_ && enter && Fl::focus() != this &&
      dynamic_cast<DialogButton*>(Fl::focus()) != nullptr) {
    return 0;
  }
  return Fl_Button::handle(event);
}

void DialogButton::draw() {
  Fl_Button::draw();
  // The default button's extra dark frame.
  if (isDefault_) {
    fl_color(FL_BLACK);
    fl_rect(x(), y(), w(), h());
  }
}

void BlockProgress::draw() {
  draw_box(box(), x(), y(), w(), h(), color());
  const int inset = 3;
  const int left = x() + inset;
  const int top = y() + inset;
  const int width = w() - 2 * inset;
  const int height = h() - 2 * inset;
  const float span = maximum() - minimum();
  if (width <= 0 || height <= 0 || span <= 0) return;
  const float fraction = std::clamp((value() - minimum()) / span, 0.0f, 1.0f);
  const int filled = static_cast<int>(fraction * static_cast<float>(width) + 0.5f);
  const int block = std::max(2, height * 2 / 3);
  const int gap = 2;
  fl_color(selection_color());
  for (int bx = 0; bx < filled; bx += block + gap) {
    fl_rectf(left + bx, top, std::min(block, filled - bx), height);
  }
}

}  // namespace kt
