#include "app/fltk/app_icon.h"

#include <algorithm>
#include <cmath>

namespace kt {
namespace {

struct Rgb {
  unsigned char r, g, b;
};

constexpr Rgb kSilver{192, 192, 192};
constexpr Rgb kGrey{128, 128, 128};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kYellow{255, 255, 0};

// RGBA pixels of one size; the picture is laid out on a 48-unit grid and scaled.
std::vector<unsigned char> Draw(int size) {
  std::vector<unsigned char> px(static_cast<std::size_t>(size * size * 4), 0);
  const double s = size / 48.0;
  auto rect = [&](double x0, double y0, double x1, double y1, Rgb c) {
    const int top = std::max(0, static_cast<int>(std::lround(y0 * s)));
    const int bottom = std::min(size, static_cast<int>(std::lround(y1 * s)));
    const int left = std::max(0, static_cast<int>(std::lround(x0 * s)));
    const int right = std::min(size, static_cast<int>(std::lround(x1 * s)));
    for (int y = top; y < bottom; ++y) {
      for (int x = left; x < right; ++x) {
        unsigned char* p = &px[static_cast<std::size_t>((y * size + x) * 4)];
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
        p[3] = 255;
      }
    }
  };
  for (int i = 0; i < 4; ++i) {  // pins
    const int y = 12 + i * 7;
    rect(4, y, 11, y + 3, kSilver);
    rect(37, y, 44, y + 3, kSilver);
  }
  rect(9, 7, 39, 41, kGrey);  // package, rim and notch
  rect(11, 9, 37, 39, kBlack);
  rect(21, 7, 27, 10, kSilver);
  rect(21, 13, 27, 26, kGreen);  // the image going into the EEPROM
  for (int row = 0; row < 7; ++row) rect(15 + row, 26 + row, 33 - row, 27 + row, kGreen);
  rect(15, 34, 33, 36, kYellow);
  return px;
}

}  // namespace

AppIcon::AppIcon() {
  for (int size : {48, 32, 16}) {
    pixels_.push_back(Draw(size));
    images_.push_back(std::make_unique<Fl_RGB_Image>(pixels_.back().data(), size, size, 4));
    pointers_.push_back(images_.back().get());
  }
}

}  // namespace kt
