#include "app/win32/minimised_icon.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(MinimisedIconTest, CentresTheIconRoundingHalfAPixelUp) {
  const IconOrigin origin = CentredIconOrigin(36, 37, 32, 32);
  EXPECT_EQ(origin.x, 2);
  EXPECT_EQ(origin.y, 3);
}

TEST(MinimisedIconTest, AClientSmallerThanTheIconTruncatesTowardZero) {
  // (28 - 32 + 1) / 2 is -1 with C++'s division, not -2 as a floor would give.
  const IconOrigin origin = CentredIconOrigin(28, 31, 32, 32);
  EXPECT_EQ(origin.x, -1);
  EXPECT_EQ(origin.y, 0);
}

}  // namespace
}  // namespace kt
