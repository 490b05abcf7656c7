#pragma once

#include <FL/Fl_RGB_Image.H>

#include <memory>
#include <vector>

namespace kt {

// The application's icon (a chip with an arrow going into it), drawn at the sizes of icon 128: 48, 32
// and 16 pixels, with a transparent background. The images own their pixels.
class AppIcon {
 public:
  AppIcon();
  AppIcon(const AppIcon&) = delete;
  AppIcon& operator=(const AppIcon&) = delete;

  // For Fl_Window::icons(); valid as long as this object.
  const Fl_RGB_Image** Images() { return pointers_.data(); }
  int Count() const { return static_cast<int>(pointers_.size()); }

 private:
  std::vector<std::vector<unsigned char>> pixels_;
  std::vector<std::unique_ptr<Fl_RGB_Image>> images_;
  std::vector<const Fl_RGB_Image*> pointers_;
};

}  // namespace kt
