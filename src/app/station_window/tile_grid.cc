#include "app/station_window/tile_grid.h"

#include <algorithm>

namespace kt {

TileGrid LayOutTiles(int count, int width, int height) {
  TileGrid grid;
  count = std::max(count, 1);
  // As many in a row as fit at the least legible width, at most 8, no more than there are tiles.
  const int fitting = std::max(1, (width - kTileGap) / (kMinTileWidth + kTileGap));
  grid.columns = std::min({count, kMaxTilesInRow, fitting});
  grid.rows = (count + grid.columns - 1) / grid.columns;
  grid.tileWidth = std::max(kMinTileWidth, (width - kTileGap) / grid.columns - kTileGap);
  grid.tileHeight = std::max(kMinTileHeight, (height - kTileGap) / grid.rows - kTileGap);
  // A tile wider than it needs to be reads no better: keep them no more than three times as wide as high.
  grid.tileWidth = std::min(grid.tileWidth, std::max(kMinTileWidth, grid.tileHeight * 3));
  return grid;
}

}  // namespace kt
