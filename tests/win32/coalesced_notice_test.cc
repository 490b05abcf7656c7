#include "app/win32/coalesced_notice.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kt {
namespace {

TEST(CoalescedNoticeTest, AFloodOfChangesPostsOnceUntilTheWindowHasLooked) {
  std::atomic<int> posts{0};
  CoalescedNotice notice([&] {
    ++posts;
    return true;
  });
  std::vector<std::thread> boards;
  for (int b = 0; b < 4; ++b) {
    boards.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) notice.Notify();
    });
  }
  for (std::thread& board : boards) board.join();
  EXPECT_EQ(posts.load(), 1);

  // A change after the window took its snapshot is a change it has not seen.
  notice.Taken();
  notice.Notify();
  notice.Notify();
  EXPECT_EQ(posts.load(), 2);
}

TEST(CoalescedNoticeTest, APostThatFailedIsTriedAgainAtTheNextChange) {
  int attempts = 0;
  CoalescedNotice notice([&] { return ++attempts > 1; });
  notice.Notify();
  notice.Notify();
  notice.Notify();
  EXPECT_EQ(attempts, 2);
}

}  // namespace
}  // namespace kt
