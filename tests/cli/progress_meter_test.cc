#include "app/cli/progress_meter.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kt {
namespace {

TEST(ProgressMeterTest, WithoutATerminalEachTenthIsOneLineAndANewJobStartsAgain) {
  std::ostringstream out;
  ProgressMeter meter(out, false);
  for (int p : {0, 0, 5, 9, 10, 14, 35, 35, 100}) meter.Update(p);
  EXPECT_EQ(out.str(),
            "progress 10%\nprogress 20%\nprogress 30%\nprogress 40%\nprogress 50%\nprogress 60%\n"
            "progress 70%\nprogress 80%\nprogress 90%\nprogress 100%\n");
  out.str("");
  meter.Update(0);
  meter.Update(12);
  EXPECT_EQ(out.str(), "progress 10%\n");
}

TEST(ProgressMeterTest, OnATerminalTheBarIsRedrawnInPlaceAndBrokenBeforeOtherOutput) {
  std::ostringstream out;
  ProgressMeter meter(out, true);
  meter.Update(50);
  meter.Update(50);
  EXPECT_EQ(out.str(), "\r[####################....................]  50%");
  meter.Break();
  meter.Break();
  meter.Update(100);
  EXPECT_EQ(out.str(),
            "\r[####################....................]  50%\n"
            "\r[########################################] 100%");
}

}  // namespace
}  // namespace kt
