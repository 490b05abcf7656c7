#include "app/fltk/fltk_dialog_window.h"

#include <FL/Fl.H>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/clock.h"

namespace kt {
namespace {

// The window is built but never shown: the calls and the pump need no display.
class FltkDialogWindowTest : public ::testing::Test {
 protected:
  WindowTrace trace_;
  FltkDialogWindow window_{"KT701xWriteEepromMP", trace_};
};

TEST_F(FltkDialogWindowTest, TemplateTextsAndStates) {
  EXPECT_EQ(window_.GetItemText(ctl::kExit), "Exit");
  EXPECT_EQ(window_.GetItemText(ctl::kWriteEeprom), "Write EEPROM");
  EXPECT_EQ(window_.GetItemText(ctl::kEepromWp), " EEPROM WP");
  EXPECT_EQ(window_.GetItemText(ctl::kVendorId), "");
  EXPECT_EQ(window_.GetItemText(ctl::kExpectedVersion), "00");
  window_.SetItemText(ctl::kVendorId, "3B7D");   // an edit field keeps its text as its value
  window_.SetItemText(ctl::kStatusMarker, ".");  // a static as its label
  EXPECT_EQ(window_.GetItemText(ctl::kVendorId), "3B7D");
  EXPECT_EQ(window_.GetItemText(ctl::kStatusMarker), ".");
  EXPECT_FALSE(window_.IsChecked(ctl::kEepromWp));
  window_.SetCheck(ctl::kEepromWp, true);
  EXPECT_TRUE(window_.IsChecked(ctl::kEepromWp));
  EXPECT_EQ(window_.GetItemText(9999), "");                     // no such control: nothing happens
  EXPECT_EQ(window_.GetItemText(kSimulatedBoardLabel.id), "");  // only against the simulated board
}

TEST(FltkSimulatedBoardTest, TheLabelIsAddedOverFreeSpace) {
  WindowTrace trace;
  FltkDialogWindow window("KT701xWriteEepromMP", trace, true);
  EXPECT_EQ(window.GetItemText(kSimulatedBoardLabel.id), "SIMULATED BOARD");
  const ControlTemplate& l = kSimulatedBoardLabel;
  for (const ControlTemplate& t : kDialogTemplate) {
    EXPECT_TRUE(t.x >= l.x + l.width || l.x >= t.x + t.width || t.y >= l.y + l.height ||
                l.y >= t.y + t.height)
        << "over control " << t.id;
  }
}

TEST_F(FltkDialogWindowTest, PumpRunsAWorkersSendsUntilDone) {
  VirtualClock clock;
  std::atomic<bool> done{false};
  std::thread::id sentOn;
  std::thread worker([&] {
    window_.SendToWindowThread([&] { sentOn = std::this_thread::get_id(); });
    window_.PostToWindowThread([&] { done = true; });
  });
  EXPECT_TRUE(window_.PumpMessagesUntil(clock, 6000, [&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(sentOn, std::this_thread::get_id());
}

TEST_F(FltkDialogWindowTest, PumpThatNothingEndsPassesItsTimeOutOnTheClock) {
  VirtualClock clock;
  EXPECT_FALSE(window_.PumpMessagesUntil(clock, 20, [] { return false; }));
  EXPECT_GE(clock.NowMicros(), 20000u);
}

TEST_F(FltkDialogWindowTest, SendOnTheWindowThreadRunsAtOnce) {
  bool ran = false;
  window_.SendToWindowThread([&] { ran = true; });
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace kt
