#include "app/fltk/call_queue.h"

#include <FL/Fl.H>
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kt {
namespace {

class CallQueueTest : public ::testing::Test {
 protected:
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

// The window program hung after Exit this way: the X connection's events ran a nested loop that took the
// queue's wake-up, and the outer loop, which had seen the wake-up before, then waited in its read for good.
TEST(CallQueueNestedLoopTest, AWakeUpTakenByANestedLoopLeavesTheOuterLoopFree) {
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  // Watched before the queue's descriptor: FLTK runs the ready descriptors' callbacks in that order.
  Fl::add_fd(pipeFds[0], FL_READ, [](int fd, void*) {
    char byte;
    [[maybe_unused]] const ssize_t got = read(fd, &byte, 1);
    Fl::wait(0.0);  // the nested loop: it takes the queue's wake-up and runs the call
  });
  auto queue = std::make_shared<CallQueue>();
  std::atomic<bool> ran{false};
  queue->Post([&] { ran = true; });
  ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
  // Both are ready for one select. A hang here is the fault: the guard ends it after a minute, with a
  // second wake-up, and the test fails.
  std::mutex mutex;
  std::condition_variable returned;
  bool outerReturned = false;
  bool guardFired = false;
  std::thread guard([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (returned.wait_for(lock, std::chrono::minutes(1), [&] { return outerReturned; })) return;
    guardFired = true;
    lock.unlock();
    queue->Post([] {});
  });
  Fl::wait(60.0);
  {
    std::lock_guard<std::mutex> lock(mutex);
    outerReturned = true;
  }
  returned.notify_all();
  guard.join();
  EXPECT_FALSE(guardFired) << "the outer loop waited for a wake-up a nested loop had taken";
  EXPECT_TRUE(ran);
  Fl::remove_fd(pipeFds[0]);
  close(pipeFds[0]);
  close(pipeFds[1]);
}

}  // namespace
}  // namespace kt
