#include "hid/linux/device_monitor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace kt {
namespace {

// Events as single bytes through a pipe: 'a' an arrival, 'r' a removal, anything else neither.
class PipeSource final : public DeviceEventSource {
 public:
  explicit PipeSource(int readFd) : fd_(readFd) {}
  int Fd() const override { return fd_.Get(); }
  std::optional<DeviceChange> Receive() override {
    char c = 0;
    if (::read(fd_.Get(), &c, 1) != 1) return {};
    if (c == 'a') return DeviceChange{true, {}};
    if (c == 'r') return DeviceChange{false, {}};
    return {};
  }

 private:
  UniqueFd fd_;
};

class Recorder {
 public:
  void Add(bool arrived) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(arrived);
    cv_.notify_all();
  }
  std::vector<bool> WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return events_.size() >= count; });
    return events_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<bool> events_;
};

TEST(DeviceMonitorTest, ArrivalsAndRemovalsReachTheListenerInOrder) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd writeEnd(fds[1]);
  Recorder recorder;
  {
    DeviceMonitor monitor(std::make_unique<PipeSource>(fds[0]),
                          [&](const DeviceChange& change) { recorder.Add(change.arrived); });
    ASSERT_TRUE(monitor.Running());
    ASSERT_EQ(::write(writeEnd.Get(), "axra", 4), 4);  // 'x': a change that is neither
    EXPECT_EQ(recorder.WaitFor(3), (std::vector<bool>{true, false, true}));
  }
  // The monitor has joined its thread and closed the source with it.
  EXPECT_EQ(recorder.WaitFor(3).size(), 3u);
}

}  // namespace
}  // namespace kt
