#include "app/win32/ui_font.h"

namespace kt {

HFONT CreateUiFont(int pixels, int weight) {
  NONCLIENTMETRICSA metrics{};
  metrics.cbSize = sizeof(metrics);
  LOGFONTA font{};
  if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
    font = metrics.lfMessageFont;
  } else {
    GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(font), &font);
  }
  if (pixels > 0) font.lfHeight = -pixels;  // negative: the characters' height, not the cell's
  font.lfWeight = weight;
  return CreateFontIndirectA(&font);
}

}  // namespace kt
