#include "base/clock.h"

#include <gtest/gtest.h>

#include <thread>

#include "base/event.h"

namespace kt {
namespace {

TEST(VirtualClockTest, PausesMoveTimeWithoutWaiting) {
  VirtualClock clock;
  clock.Sleep(5000);
  clock.Sleep(3);
  EXPECT_EQ(clock.NowMicros(), 5003000u);
  clock.AdvanceTo(1000);  // never backwards
  EXPECT_EQ(clock.NowMicros(), 5003000u);
}

TEST(VirtualClockTest, TimedOutWaitTakesTheWholeTimeout) {
  VirtualClock clock(/*realWaitBoundMs=*/1);
  Event event;
  EXPECT_FALSE(event.Wait(clock, 6000));
  EXPECT_EQ(clock.NowMicros(), 6000000u);
}

TEST(VirtualClockTest, WaitEndsWhenAnotherThreadSetsTheEvent) {
  VirtualClock clock;
  Event event;
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.Wait(clock, 6000));
  setter.join();
  EXPECT_LT(clock.NowMicros(), 6000000u);
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.IsSet());
}

}  // namespace
}  // namespace kt
