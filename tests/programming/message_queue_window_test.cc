#include "app/message_queue_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kt {
namespace {

class QueueWindow final : public MessageQueueWindow {
 public:
  void MessageBox(const std::string&, const std::string&, MessageIcon) override {}
};

TEST(MessageQueueWindowTest, SentCallRunsOnTheWindowThreadWhileItPumps) {
  VirtualClock clock;
  QueueWindow window;  // this thread is its window thread
  std::atomic<bool> sent{false};
  std::thread::id ranOn;
  std::thread sender([&] {
    window.SendToWindowThread([&] { ranOn = std::this_thread::get_id(); });
    sent = true;
    window.PostToWindowThread([] {});  // wakes the pump to look at `sent`
  });
  EXPECT_TRUE(window.PumpMessagesUntil(clock, 6000, [&] { return sent.load(); }));
  sender.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_LT(clock.NowMicros(), 6000u * 1000);
}

TEST(MessageQueueWindowTest, SendingFromTheWindowThreadRunsAtOnce) {
  QueueWindow window;
  bool ran = false;
  window.SendToWindowThread([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(MessageQueueWindowTest, PumpGivesUpAtItsBoundInVirtualTime) {
  VirtualClock clock(/*realWaitBoundMs=*/1);
  QueueWindow window;
  EXPECT_FALSE(window.PumpMessagesUntil(clock, 6000, [] { return false; }));
  EXPECT_EQ(clock.NowMicros(), 6000u * 1000);
}

TEST(MessageQueueWindowTest, CloseReleasesASenderWhoseCallNeverStarted) {
  QueueWindow window;
  bool ran = false;
  std::thread sender([&] { window.SendToWindowThread([&] { ran = true; }); });
  window.WaitForQueuedCall();
  window.Close();
  sender.join();
  EXPECT_FALSE(ran);
  window.SendToWindowThread([&] { ran = true; });  // the window thread itself still runs its own calls
  EXPECT_TRUE(ran);
}

TEST(MessageQueueWindowTest, MessageLoopRunsCallsUntilEndDialog) {
  QueueWindow window;
  std::thread other([&] {
    window.SendToWindowThread([&] { window.SetProgressPos(ctl::kProgress, 42); });
    window.PostToWindowThread([&] { window.EndDialog(kIdOk); });
  });
  EXPECT_EQ(window.RunMessageLoop(), kIdOk);
  other.join();
  EXPECT_EQ(window.ProgressPos(ctl::kProgress), 42);
  EXPECT_EQ(window.DialogResult(), kIdOk);
}

}  // namespace
}  // namespace kt
