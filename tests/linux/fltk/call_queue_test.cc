#include "app/fltk/call_queue.h"

#include <FL/Fl.H>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kt {
namespace {

class CallQueueTest : public ::testing::Test {
 protected:
  void SetUp() override { Fl::lock(); }  // this thread is FLTK's; Fl::awake works from others
  void TearDown() override { Fl::unlock(); }

  // FLTK's loop, as the window runs it, until `done` is set by a call it ran.
  void RunUntil(const std::atomic<bool>& done) {
    while (!done) Fl::wait(60.0);  // each wake-up is a call or an awake, never a time-out
  }

  std::shared_ptr<CallQueue> queue_ = std::make_shared<CallQueue>();
};

TEST_F(CallQueueTest, SendRunsOnTheFltkThreadAndReturnsAfterIt) {
  std::atomic<bool> done{false};
  std::thread::id ranOn;
  bool ranBeforeReturn = false;
  std::thread sender([&] {
    bool ran = false;
    queue_->Send([&] {
      ranOn = std::this_thread::get_id();
      ran = true;
    });
    ranBeforeReturn = ran;
    queue_->Post([&] { done = true; });
  });
  RunUntil(done);
  sender.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_TRUE(ranBeforeReturn);
}

TEST_F(CallQueueTest, CloseReleasesAWaitingSenderWithoutRunningItsCall) {
  bool ran = false;
  std::thread sender([&] { queue_->Send([&] { ran = true; }); });
  queue_->WaitForCall();  // the sender is now waiting for a call nobody has run
  queue_->Close();
  sender.join();
  queue_->Drain();
  EXPECT_FALSE(ran);
}

TEST_F(CallQueueTest, CallsAfterCloseAreDropped) {
  queue_->Close();
  bool ran = false;
  queue_->Send([&] { ran = true; });  // returns at once
  queue_->Post([&] { ran = true; });
  EXPECT_EQ(queue_->Pending(), 0u);
  queue_->Drain();
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace kt
