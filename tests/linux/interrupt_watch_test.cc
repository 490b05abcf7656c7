#include "app/cli/interrupts.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kt {
namespace {

// Counts the callback's calls and lets the test wait for the first one.
struct Calls {
  std::mutex mutex;
  std::condition_variable changed;
  int count = 0;
  void Add() {
    std::lock_guard<std::mutex> lock(mutex);
    ++count;
    changed.notify_all();
  }
  // Bounded only so that a lost signal fails the test instead of hanging it.
  int AwaitOne() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::seconds(60), [this] { return count > 0; });
    return count;
  }
};

// A signal sent to the process reaches the watch whichever thread the kernel picks, and one that comes
// before the callback is routed is handed to it once it is.
TEST(InterruptWatchTest, EachSignalReachesTheCallbackOnceWhenEverItIsRouted) {
  const struct {
    int signal;
    bool routeFirst;
  } cases[] = {{SIGINT, true}, {SIGTERM, true}, {SIGHUP, true}, {SIGINT, false}, {SIGTERM, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "signal " << c.signal << (c.routeFirst ? ", routed first" : ", routed late"));
    Calls calls;
    {
      InterruptWatch watch;
      ASSERT_TRUE(watch.active());
      if (c.routeFirst) watch.Route([&calls] { calls.Add(); });
      ASSERT_EQ(kill(getpid(), c.signal), 0);
      if (!c.routeFirst) watch.Route([&calls] { calls.Add(); });
      EXPECT_EQ(calls.AwaitOne(), 1);
      watch.Route(nullptr);
    }
    EXPECT_EQ(calls.count, 1);
  }
}

}  // namespace
}  // namespace kt
