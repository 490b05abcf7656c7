#include "app/station_window/tile_grid.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(TileGridTest, UpToEightInARowNeverSmallerThanLegible) {
  const struct {
    int count, width, height;
    int columns, rows;
  } cases[] = {
      {1, 1280, 800, 1, 1},   {3, 1280, 800, 3, 1},   {8, 1400, 800, 8, 1},  {9, 1400, 800, 8, 2},
      {16, 1400, 800, 8, 2},  {64, 1400, 800, 8, 8},  {8, 500, 400, 3, 3},   {6, 100, 100, 1, 6},
      {0, 800, 600, 1, 1},
  };
  for (const auto& c : cases) {
    const TileGrid grid = LayOutTiles(c.count, c.width, c.height);
    EXPECT_EQ(grid.columns, c.columns) << c.count << " in " << c.width;
    EXPECT_EQ(grid.rows, c.rows) << c.count << " in " << c.width;
    EXPECT_GE(grid.tileWidth, kMinTileWidth);
    EXPECT_GE(grid.tileHeight, kMinTileHeight);
    // The row fits the width whenever legible tiles can fit at all.
    if (c.width >= kMinTileWidth + 2 * kTileGap) {
      EXPECT_LE(grid.X(grid.columns - 1) + grid.tileWidth, c.width);
    }
  }
}

}  // namespace
}  // namespace kt
