#include "app/cli/replug_watch.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace kt {
namespace {

// Only the notifications matter here: the test fires them by hand.
class NotifyingBackend final : public HidBackend {
 public:
  std::string Name() const override { return "notifying"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return nullptr; }
  std::unique_ptr<HidDeviceHandle> Open(const std::string&, HidOpenMode) override { return nullptr; }
  void SetDeviceChangeListener(DeviceChangeListener listener) override { listener_ = std::move(listener); }
  void Fire(bool arrived) {
    if (listener_) listener_(DeviceChange{arrived, {}});
  }

 private:
  DeviceChangeListener listener_;
};

struct ReplugCase {
  const char* name;
  std::vector<char> beforeMark;  // 'a' arrival, 'r' removal
  std::vector<char> afterMark;
  std::vector<bool> present;  // what each look for the board finds, in turn
  bool expected;
  bool arrivalDuringFirstLook = false;  // the HID node's own arrival, while the first look runs
};

void PrintTo(const ReplugCase& c, std::ostream* os) {
  *os << c.name;
}

class ReplugWatchTest : public ::testing::TestWithParam<ReplugCase> {};

TEST_P(ReplugWatchTest, GoesOnOnlyOnceTheBoardLeftAndCameBack) {
  const ReplugCase& c = GetParam();
  auto inner = std::make_unique<NotifyingBackend>();
  NotifyingBackend& notifier = *inner;
  ReplugWatch watch(std::move(inner));
  int dialogHeard = 0;
  watch.SetDeviceChangeListener([&](const DeviceChange&) { ++dialogHeard; });
  for (char event : c.beforeMark) notifier.Fire(event == 'a');
  watch.Mark();
  for (char event : c.afterMark) notifier.Fire(event == 'a');

  VirtualClock clock(/*realWaitBoundMs=*/20);
  std::size_t looks = 0;
  const bool back = watch.WaitForReplug(clock, 60000, [&] {
    if (looks == 0 && c.arrivalDuringFirstLook) notifier.Fire(true);
    return looks < c.present.size() && c.present[looks++];
  });
  EXPECT_EQ(back, c.expected);
  EXPECT_EQ(looks, c.present.size());
  // The dialog still hears every notification through the watch.
  EXPECT_EQ(dialogHeard,
            static_cast<int>(c.beforeMark.size() + c.afterMark.size() + c.arrivalDuringFirstLook));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplugWatchTest,
    ::testing::Values(ReplugCase{"RemovalThenArrival", {}, {'r', 'a'}, {true}, true},
                      ReplugCase{"NothingHappened", {}, {}, {}, false},
                      ReplugCase{"OnlyAnArrival", {}, {'a'}, {}, false},
                      ReplugCase{"GoneAndNotBack", {}, {'a', 'r'}, {}, false},
                      // In a station: another port's board leaves after this one came back.
                      ReplugCase{"AnotherBoardLeavesAfterTheReturn", {}, {'r', 'a', 'r'}, {true}, true},
                      ReplugCase{"BeforeTheMarkDoesNotCount", {'r', 'a'}, {}, {}, false},
                      // The USB device arrives before its HID node: the board is found only later.
                      ReplugCase{"NotThereAtTheFirstArrival", {}, {'r', 'a', 'a'}, {false}, false},
                      ReplugCase{"ThereAtALaterArrival", {}, {'r', 'a'}, {false, true}, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// --wait: a board there already ends the wait at once; one plugged in later, at its arrival.
TEST(ReplugWatchArrivalTest, GoesOnOnceTheBoardIsThere) {
  const struct {
    const char* name;
    std::vector<bool> present;  // each look, in turn
    int arrivals;               // fired during the first look
    bool expected;
  } rows[] = {{"already there", {true}, 0, true},
              {"plugged in later", {false, true}, 1, true},
              {"an arrival of something else", {false, false}, 1, false},
              {"nothing comes", {false}, 0, false}};
  for (const auto& row : rows) {
    auto inner = std::make_unique<NotifyingBackend>();
    NotifyingBackend& notifier = *inner;
    ReplugWatch watch(std::move(inner));
    VirtualClock clock(/*realWaitBoundMs=*/20);
    std::size_t looks = 0;
    const bool found = watch.WaitForArrival(clock, 60000, [&] {
      if (looks == 0) {
        for (int i = 0; i < row.arrivals; ++i) notifier.Fire(true);
      }
      return looks < row.present.size() && row.present[looks++];
    });
    EXPECT_EQ(found, row.expected) << row.name;
    EXPECT_EQ(looks, row.present.size()) << row.name;
  }
}

}  // namespace
}  // namespace kt
