#include "app/win32/tile_pane_grid.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

constexpr int kBar = 17;

TEST(TilePaneGridTest, TheBarComesOnlyWhenTheTilesOverflowAndTakesItsWidthFromThem) {
  const struct {
    int count, width, height;
    bool scrolls;
    int columns, maxScroll;
  } cases[] = {
      {6, 800, 400, false, 5, 0},
      {0, 800, 400, false, 1, 0},
      // Two rows of the smallest tiles fill 204 pixels to the last one, and no more.
      {8, 800, 204, false, 5, 0},
      {8, 800, 203, true, 4, 1},
      // Five columns at 800, four in the 783 the bar leaves: six rows of 98, 196 more than the pane.
      {24, 800, 400, true, 4, 196},
  };
  for (const auto& c : cases) {
    const PaneGrid pane = LayOutPane(c.count, c.width, c.height, kBar);
    SCOPED_TRACE(testing::Message() << c.count << " tiles in " << c.width << "x" << c.height);
    EXPECT_EQ(pane.scrolls, c.scrolls);
    EXPECT_EQ(pane.grid.columns, c.columns);
    EXPECT_EQ(pane.maxScroll, c.maxScroll);
    const int lastRight = pane.grid.X(pane.grid.columns - 1) + pane.grid.tileWidth;
    EXPECT_LE(lastRight, c.width - (c.scrolls ? kBar : 0)) << "a tile under the bar";
  }
}

TEST(TilePaneGridTest, ScrollingStopsAtEitherEnd) {
  const PaneGrid scrolling = LayOutPane(24, 800, 400, kBar);
  const PaneGrid fitting = LayOutPane(6, 800, 400, kBar);
  const struct {
    const PaneGrid& pane;
    int wanted, clamped;
  } cases[] = {
      {scrolling, -1, 0},    {scrolling, 0, 0}, {scrolling, 100, 100}, {scrolling, 196, 196},
      {scrolling, 500, 196}, {fitting, 50, 0},  {fitting, -50, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ClampScroll(c.wanted, c.pane), c.clamped) << c.wanted;
}

}  // namespace
}  // namespace kt
