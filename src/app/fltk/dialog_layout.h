#pragma once

#include <array>
#include <string_view>

namespace kt {

// Dialog template 102 as data: the controls in template order (which is the tab order), their texts and
// rectangles in dialog units, and what the template itself hides.
enum class ControlKind { kPushButton, kDefaultButton, kStatic, kEdit, kCheckBox, kProgress };
enum class TextAlign { kLeft, kCentre, kRight };

struct ControlTemplate {
  int id;
  ControlKind kind;
  std::string_view text;
  int x, y, width, height;  // dialog units
  TextAlign align;
  bool hiddenByTemplate;
};

inline constexpr int kTemplateWidth = 320;  // dialog units
inline constexpr int kTemplateHeight = 97;
inline constexpr std::string_view kTemplateCaption = "KT7310 Write EEPROM (MP)";

inline constexpr std::array<ControlTemplate, 16> kDialogTemplate = {{
    {1, ControlKind::kDefaultButton, "Exit", 263, 76, 50, 14, TextAlign::kCentre, false},
    {1008, ControlKind::kStatic, "File Name", 7, 9, 32, 8, TextAlign::kLeft, false},
    {1000, ControlKind::kEdit, "", 42, 7, 252, 14, TextAlign::kLeft, false},
    {1001, ControlKind::kPushButton, "...", 297, 7, 16, 14, TextAlign::kCentre, false},
    {1002, ControlKind::kPushButton, "Write EEPROM", 238, 35, 75, 14, TextAlign::kCentre, false},
    {1003, ControlKind::kProgress, "", 7, 49, 306, 19, TextAlign::kLeft, false},
    {1013, ControlKind::kStatic, "Vendor ID", 7, 36, 33, 8, TextAlign::kLeft, false},
    {1004, ControlKind::kEdit, "", 43, 34, 40, 14, TextAlign::kCentre, false},
    {1014, ControlKind::kStatic, "Product ID", 93, 36, 35, 8, TextAlign::kLeft, false},
    {1005, ControlKind::kEdit, "", 131, 34, 40, 14, TextAlign::kCentre, false},
    {1006, ControlKind::kStatic, "00", 47, 82, 24, 8, TextAlign::kCentre, true},
    {1007, ControlKind::kStatic, "00", 7, 82, 21, 8, TextAlign::kCentre, true},
    {1009, ControlKind::kCheckBox, " EEPROM WP", 179, 36, 58, 10, TextAlign::kLeft, true},
    {1010, ControlKind::kStatic, "", 245, 81, 16, 8, TextAlign::kRight, false},
    {1011, ControlKind::kPushButton, "Erase EEPROM", 201, 76, 60, 14, TextAlign::kCentre, true},
    {1012, ControlKind::kCheckBox,
     "Use EVB VID (0x3B7D) and PID (0x0001, High Speed), PID (0x0002, Full Speed)", 7, 22, 271, 10,
     TextAlign::kLeft, false},
}};

// Not part of template 102: shown only when the program runs against the simulated board (--simulate), so
// that a run that programs nothing cannot pass for a real one. It sits in the free stretch of the bottom
// row, between the hidden version fields and the hidden "Erase EEPROM", and covers no other control.
inline constexpr ControlTemplate kSimulatedBoardLabel = {
    1015, ControlKind::kStatic, "SIMULATED BOARD", 81, 79, 110, 8, TextAlign::kCentre, false};

// Dialog units to pixels as Windows does it for an 8-point "MS Shell Dlg" at 96 dpi: a horizontal unit
// is a quarter of the font's average character width (6 px), a vertical one an eighth of its height
// (13 px). So x * 6 / 4 and y * 13 / 8, rounded to the nearest pixel.
inline constexpr int DluToPixelsX(int x) {
  return (x * 6 + 2) / 4;
}
inline constexpr int DluToPixelsY(int y) {
  return (y * 13 + 4) / 8;
}

// Text size in pixels (FLTK sizes fonts in pixels). The 8-point dialog font is about 11 pixels at 96 dpi,
// but FLTK's sans face (DejaVu on Debian) is wider than "MS Shell Dlg": one pixel less keeps "Vendor ID"
// and "Product ID" inside their template rectangles.
inline constexpr int kDialogFontPixels = 10;

}  // namespace kt
