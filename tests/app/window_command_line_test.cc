#include "app/window_command_line.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(SimulateOptionTest, AbsentUnlessAskedForExactly) {
  EXPECT_FALSE(FindSimulateOption({}).has_value());
  EXPECT_FALSE(FindSimulateOption({"/simulate", "-simulate", "--simulated", "--simulate-now"}).has_value());
}

TEST(SimulateOptionTest, TheBareFormAndTheFormWithOptions) {
  EXPECT_EQ(FindSimulateOption({"--simulate"}), "");
  EXPECT_EQ(FindSimulateOption({"--simulate=virtual-time,blank"}), "virtual-time,blank");
  EXPECT_EQ(FindSimulateOption({"--simulate="}), "");
}

TEST(SimulateOptionTest, OtherArgumentsAreIgnoredAndTheLastOptionCounts) {
  EXPECT_EQ(FindSimulateOption({"C:\\image.bin", "--simulate=blank", "/x", "--simulate=latency=5"}),
            "latency=5");
}

}  // namespace
}  // namespace kt
