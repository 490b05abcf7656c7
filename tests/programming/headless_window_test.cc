#include "app/headless/headless_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kt {
namespace {

TEST(HeadlessWindowTest, RecordsCallsInTheOrderTheWindowThreadSawThem) {
  HeadlessWindow window;
  std::thread::id windowThread;
  window.Run([&] {
    windowThread = std::this_thread::get_id();
    window.SetProgressPos(ctl::kProgress, 50);
    window.EnableItem(ctl::kWriteEeprom, true);
  });
  window.SendToWindowThread(
      [&] { window.MessageBox("Fail to read EEPROM!!", "Read from EEPROM", MessageIcon::kError); });
  EXPECT_NE(windowThread, std::this_thread::get_id());
  EXPECT_EQ(window.Calls(), (std::vector<std::string>{"progress|50", "enable|1002|1",
                                                      "box|Fail to read EEPROM!!|Read from EEPROM|error"}));
  EXPECT_EQ(window.Boxes().size(), 1u);
}

TEST(HeadlessWindowTest, HeldBoxKeepsItsCallerUntilAnswered) {
  HeadlessWindow window;
  window.HoldBox("box|Write to EEPROM OK!");
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    window.SendToWindowThread([&] { window.MessageBox("Write to EEPROM OK!", "", MessageIcon::kNone); });
    returned = true;
  });
  ASSERT_TRUE(window.WaitForHeldBox());
  EXPECT_FALSE(returned.load());
  window.AnswerHeldBox();
  worker.join();
  EXPECT_TRUE(returned.load());
  // Only the next matching box was held.
  window.Run([&] { window.MessageBox("Write to EEPROM OK!", "", MessageIcon::kNone); });
  EXPECT_EQ(window.Boxes().size(), 2u);
}

TEST(HeadlessWindowTest, CallbackRunsOnTheWindowThreadWhenItsCallAppears) {
  HeadlessWindow window;
  std::thread::id ranOn;
  window.OnCall("progress|1", [&] { ranOn = std::this_thread::get_id(); });
  std::thread::id windowThread;
  window.Run([&] {
    windowThread = std::this_thread::get_id();
    window.SetProgressPos(ctl::kProgress, 0);
    window.SetProgressPos(ctl::kProgress, 1);
  });
  EXPECT_EQ(ranOn, windowThread);
}

}  // namespace
}  // namespace kt
