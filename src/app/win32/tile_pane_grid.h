#pragma once

#include "app/station_window/tile_grid.h"

namespace kt {

// The tiles' grid in a pane that grows a vertical scroll bar when they do not fit: the bar takes its width
// from the tiles, so the grid is laid out again for what is left.
struct PaneGrid {
  TileGrid grid;
  bool scrolls = false;
  int maxScroll = 0;  // how far down the tiles can be moved, in pixels
};

PaneGrid LayOutPane(int count, int width, int height, int scrollBarWidth);

// `wanted` (a position the operator scrolled to) kept where the tiles still fill the pane.
int ClampScroll(int wanted, const PaneGrid& pane);

}  // namespace kt
