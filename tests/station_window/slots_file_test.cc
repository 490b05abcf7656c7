#include "app/station_window/slots_file.h"

#include <gtest/gtest.h>

namespace kt {
namespace {

TEST(SlotsFileTest, PortsAndLabelsInTheFilesOrder) {
  std::vector<Slot> slots;
  std::string error;
  ASSERT_TRUE(ParseSlots("# fixture 3\n\n1-1.2  Slot A\r\n  1-1.3\tSlot B (left)  \n", slots, error)) << error;
  EXPECT_EQ(slots, (std::vector<Slot>{{"1-1.2", "Slot A"}, {"1-1.3", "Slot B (left)"}}));
}

TEST(SlotsFileTest, RefusedWithTheLineAndWhy) {
  std::string many;
  for (int i = 0; i <= 64; ++i) many += "p" + std::to_string(i) + " L\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"1-1.2 A\n1-1.3\n", "line 2: a port without a label (lines are PORT LABEL)"},
      {"1-1.2 A\n\n1-1.2 B\n", "line 3: port 1-1.2 is named twice"},
      {many, "line 65: more than 64 slots"},
  };
  for (const auto& c : cases) {
    std::vector<Slot> slots = {{"kept", "as it was"}};
    std::string error;
    EXPECT_FALSE(ParseSlots(c.text, slots, error));
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(slots.size(), 1U);
  }
}

}  // namespace
}  // namespace kt
