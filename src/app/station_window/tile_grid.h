#pragma once

namespace kt {

// Where the tiles go in the room the window has for them: up to 8 in a row, as few rows as that allows,
// each tile as large as the room gives but never smaller than kMinTileWidth by kMinTileHeight (the window
// then scrolls instead).
inline constexpr int kMaxTilesInRow = 8;
inline constexpr int kMinTileWidth = 150;
inline constexpr int kMinTileHeight = 90;
inline constexpr int kTileGap = 8;

struct TileGrid {
  int columns = 1;
  int rows = 1;
  int tileWidth = kMinTileWidth;
  int tileHeight = kMinTileHeight;

  // Tile `index`'s top-left corner, relative to the tile area's.
  int X(int index) const { return kTileGap + (index % columns) * (tileWidth + kTileGap); }
  int Y(int index) const { return kTileGap + (index / columns) * (tileHeight + kTileGap); }
  int Height() const { return kTileGap + rows * (tileHeight + kTileGap); }
};

// `count` tiles (at least 1 is laid out) in an area `width` by `height` pixels.
TileGrid LayOutTiles(int count, int width, int height);

}  // namespace kt
