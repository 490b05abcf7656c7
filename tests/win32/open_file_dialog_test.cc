#include "app/win32/open_file_dialog.h"

#include <gtest/gtest.h>

#include <string>

namespace kt {
namespace {

using namespace std::string_literals;

TEST(OpenFileDialogFilterTest, BarsBecomeTerminatorsAndTheListEndsWithTwo) {
  // One filter, described as "All Files (*.*) " and matching " *.*", exactly as the bars split it.
  EXPECT_EQ(ToOpenFileNameFilter("All Files (*.*) | *.*||"), "All Files (*.*) \0 *.*\0\0"s);
}

TEST(OpenFileDialogFilterTest, AFilterWithoutItsClosingBarsIsStillEnded) {
  EXPECT_EQ(ToOpenFileNameFilter("Images|*.bin"), "Images\0*.bin\0\0"s);
  EXPECT_EQ(ToOpenFileNameFilter(""), "\0\0"s);
}

}  // namespace
}  // namespace kt
