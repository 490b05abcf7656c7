#include <gtest/gtest.h>

#include <string>

#include "hid/report_descriptor.h"
#include "image/default_image.h"

namespace kt {
namespace {

// The descriptor the board presents is the one inside the image we program into it; the link must find
// the lengths it was built for: 32 input bytes, 16 output bytes, no report IDs.
TEST(DefaultImageDescriptorTest, GivesInput33Output17AndNoReportId) {
  constexpr std::size_t kOffset = 6811;  // right after "KTHIDTag"
  constexpr std::size_t kLength = 99;
  ASSERT_EQ(std::string(defaultImage.begin() + kOffset - 8, defaultImage.begin() + kOffset), "KTHIDTag");
  ReportDescriptorInfo info;
  std::string error;
  ASSERT_TRUE(ParseReportDescriptor(defaultImage.data() + kOffset, kLength, info, error)) << error;
  const HidCaps caps = info.ToHidCaps();
  EXPECT_EQ(caps.inputReportByteLength, 33);
  EXPECT_EQ(caps.outputReportByteLength, 17);
  EXPECT_FALSE(info.usesReportIds);
  ASSERT_EQ(caps.outputValueCaps.size(), 1u);
  EXPECT_EQ(caps.outputValueCaps[0].usagePage, 0x0C);
  EXPECT_EQ(caps.outputValueCaps[0].reportId, 0);
}

}  // namespace
}  // namespace kt
