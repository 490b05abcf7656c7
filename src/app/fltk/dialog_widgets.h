#pragma once

#include <FL/Fl_Button.H>
#include <FL/Fl_Progress.H>

namespace kt {

// A push button as a Windows dialog has them: Space or Enter press it while it has the focus, and the
// default button (Exit) is also pressed by Enter whenever no other push button has the focus. FLTK's own
// buttons take only Space, and Fl_Return_Button draws an arrow no Windows button has.
class DialogButton : public Fl_Button {
 public:
  DialogButton(int x, int y, int w, int h, const char* label, bool isDefault);
  int handle(int event) override;

 protected:
  void draw() override;

 private:
  bool isDefault_;
};

// The classic (not smooth) progress bar: the filled part is drawn as separate blocks.
class BlockProgress : public Fl_Progress {
 public:
  BlockProgress(int x, int y, int w, int h) : Fl_Progress(x, y, w, h) {}

 protected:
  void draw() override;
};

}  // namespace kt
