#include "app/win32/tile_pane_grid.h"

#include <algorithm>

namespace kt {

PaneGrid LayOutPane(int count, int width, int height, int scrollBarWidth) {
  PaneGrid pane;
  pane.grid = LayOutTiles(count, width, height);
  if (pane.grid.Height() <= height) return pane;
  pane.scrolls = true;
  pane.grid = LayOutTiles(count, width - scrollBarWidth, height);
  pane.maxScroll = std::max(0, pane.grid.Height() - height);
  return pane;
}

int ClampScroll(int wanted, const PaneGrid& pane) {
  return std::clamp(wanted, 0, pane.maxScroll);
}

}  // namespace kt
