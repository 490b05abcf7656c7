#include "hid/sim/linux/kernel_board.h"

#include <gtest/gtest.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#include "hid/linux/unique_fd.h"
#include "hid/report_descriptor.h"
#include "hid/sim/sim_enumeration.h"
#include "image/default_image.h"

namespace kt {
namespace {

// The kernel side as a script: host events go in through a pipe, plugs and answers are recorded.
class FakeTransport final : public BoardTransport {
 public:
  explicit FakeTransport(bool seesHostHandles) : seesHostHandles_(seesHostHandles) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    read_.Reset(fds[0]);
    write_.Reset(fds[1]);
  }

  void Push(HostEvent event) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      events_.push_back(std::move(event));
    }
    EXPECT_EQ(::write(write_.Get(), "e", 1), 1);
  }
  // Waits (bounded) until `count` plug changes or answers have been recorded.
  std::vector<std::string> History(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return history_.size() >= count; });
    return history_;
  }
  // Waits (bounded) until the board has taken every pushed event.
  void WaitDrained() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return events_.empty(); });
  }
  std::vector<std::vector<std::uint8_t>> Answers() {
    std::lock_guard<std::mutex> lock(mutex_);
    return answers_;
  }

  std::string Name() const override { return "fake"; }
  bool Plug(std::uint16_t productId, std::string&) override {
    char text[16];
    std::snprintf(text, sizeof text, "plug %04X", productId);
    plugged_ = true;
    Record(text);
    return true;
  }
  void Unplug() override {
    if (std::exchange(plugged_, false)) Record("unplug");
  }
  int EventFd() const override { return read_.Get(); }
  HostEvent Receive() override {
    char c;
    EXPECT_EQ(::read(read_.Get(), &c, 1), 1);
    std::lock_guard<std::mutex> lock(mutex_);
    HostEvent event = std::move(events_.front());
    events_.pop_front();
    changed_.notify_all();
    return event;
  }
  bool Send(std::span<const std::uint8_t> report, std::uint32_t, std::string&) override {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.emplace_back(report.begin(), report.end());
    history_.push_back("answer");
    changed_.notify_all();
    return true;
  }
  bool SeesHostHandles() const override { return seesHostHandles_; }

 private:
  void Record(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    history_.push_back(text);
    changed_.notify_all();
  }

  const bool seesHostHandles_;
  bool plugged_ = false;  // the board's main loop only
  UniqueFd read_;
  UniqueFd write_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<HostEvent> events_;
  std::vector<std::string> history_;
  std::vector<std::vector<std::uint8_t>> answers_;
};

HostEvent Output(std::vector<std::uint8_t> head) {
  head.resize(SimBoard::kOutputReportLength, 0);
  return {HostEvent::Kind::kOutput, std::move(head), {}};
}
const HostEvent kOpened{HostEvent::Kind::kOpened, {}, {}};
const HostEvent kClosed{HostEvent::Kind::kClosed, {}, {}};
// Report-ID byte, then the request: a read of the write-protect register, and the erase command.
const HostEvent kReadWriteProtect = Output({0x00, 0x05, 0x22, 0x04, 0x00});
const HostEvent kErase = Output({0x00, 0xF5, 0xAB, 0xCD});

struct Step {
  std::optional<HostEvent> event;
  int signal = 0;        // instead of an event: a signal through the signal descriptor
  std::size_t wait = 0;  // then wait until the history has this many entries
};

struct BoardCase {
  const char* name;
  const char* options;
  bool seesHostHandles;
  std::vector<Step> steps;
  // "%s" stands for the programmed product ID; SIGTERM at the end takes a plugged board off the bus.
  std::vector<std::string> expected;
};

void PrintTo(const BoardCase& c, std::ostream* os) {
  *os << c.name;
}

class KernelBoardTest : public ::testing::TestWithParam<BoardCase> {};

TEST_P(KernelBoardTest, DrivesTheKernelSideAsTheBoardsPlugStateSays) {
  const BoardCase& c = GetParam();
  SimOptions options;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(c.options, options, error)) << error;
  SimBoard board(options, SystemClock());
  FakeTransport transport(c.seesHostHandles);
  std::ostringstream status;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd signalRead(fds[0]), signalWrite(fds[1]);
  KernelBoard kernelBoard(board, transport, nullptr, status, /*letGoMs=*/20);
  int result = -1;
  std::thread loop([&] { result = kernelBoard.Run(signalRead.Get()); });

  const auto signal = [&](int number) {
    // Signals and host events come through two descriptors: keep them in the script's order.
    transport.WaitDrained();
    signalfd_siginfo info{};
    info.ssi_signo = static_cast<std::uint32_t>(number);
    ASSERT_EQ(::write(signalWrite.Get(), &info, sizeof info), static_cast<ssize_t>(sizeof info));
  };
  for (const Step& step : c.steps) {
    if (step.event) transport.Push(*step.event);
    if (step.signal != 0) signal(step.signal);
    if (step.wait != 0) transport.History(step.wait);
  }
  signal(SIGTERM);
  loop.join();
  EXPECT_EQ(result, 0);

  char programmed[8];
  std::snprintf(programmed, sizeof programmed, "%04X", EnumeratedProductId(defaultImage));
  std::vector<std::string> expected;
  for (std::string line : c.expected) {
    if (const auto at = line.find("%s"); at != std::string::npos) line.replace(at, 2, programmed);
    expected.push_back(line);
  }
  EXPECT_EQ(transport.History(0), expected) << status.str();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KernelBoardTest,
    ::testing::Values(
        // The answer goes up with its report-ID byte; the transport decides whether to send it.
        BoardCase{"AnswersARequest",
                  "",
                  true,
                  {{kOpened}, {kReadWriteProtect, 0, 2}},
                  {"plug %s", "answer", "unplug"}},
        BoardCase{"ReplugsBlankOnceTheHostClosesAfterAnErase",
                  "",
                  true,
                  {{kOpened}, {kErase}, {kErase}, {kClosed, 0, 3}},
                  {"plug %s", "unplug", "plug 72F7", "unplug"}},
        BoardCase{"StaysPluggedWhenTheHostClosesWithoutAnErase",
                  "",
                  true,
                  {{kOpened}, {kReadWriteProtect, 0, 2}, {kClosed}, {kOpened}, {kReadWriteProtect, 0, 3}},
                  {"plug %s", "answer", "answer", "unplug"}},
        // A gadget never hears the host let go: quiet after the erase stands for it.
        BoardCase{"GadgetReplugsAfterQuietFollowingAnErase",
                  "",
                  false,
                  {{kErase, 0, 3}},
                  {"plug %s", "unplug", "plug 72F7", "unplug"}},
        BoardCase{"GadgetAnswersWithoutAnyOpen",
                  "blank",
                  false,
                  {{kReadWriteProtect, 0, 2}},
                  {"plug 72F7", "answer", "unplug"}},
        BoardCase{"ManualReplugWaitsForTheSignal",
                  "manual-replug",
                  true,
                  {{kOpened}, {kErase}, {kClosed}, {std::nullopt, SIGUSR1, 3}},
                  {"plug %s", "unplug", "plug 72F7", "unplug"}},
        BoardCase{"UnplugFaultTakesTheDeviceAway",
                  "unplug@2",
                  true,
                  {{kOpened}, {kReadWriteProtect, 0, 2}, {kReadWriteProtect, 0, 3}},
                  {"plug %s", "answer", "unplug"}},
        BoardCase{"SilentRequestGetsNoAnswer",
                  "silent@1",
                  true,
                  {{kOpened}, {kReadWriteProtect}, {kReadWriteProtect, 0, 2}},
                  {"plug %s", "answer", "unplug"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KernelBoardTest, AnswerKeepsItsLayoutForTheTransport) {
  SimOptions options;
  SimBoard board(options, SystemClock());
  FakeTransport transport(true);
  std::ostringstream status;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  UniqueFd signalRead(fds[0]), signalWrite(fds[1]);
  KernelBoard kernelBoard(board, transport, nullptr, status);
  std::thread loop([&] { kernelBoard.Run(signalRead.Get()); });
  transport.Push(kOpened);
  transport.Push(kReadWriteProtect);
  transport.History(2);
  signalfd_siginfo info{};
  info.ssi_signo = SIGTERM;
  ASSERT_EQ(::write(signalWrite.Get(), &info, sizeof info), static_cast<ssize_t>(sizeof info));
  loop.join();
  const auto answers = transport.Answers();
  ASSERT_EQ(answers.size(), 1u);
  ASSERT_EQ(answers[0].size(), SimBoard::kInputReportLength);
  EXPECT_EQ(answers[0][0], 0x00);  // report-ID byte, which a transport without report IDs leaves out
  EXPECT_EQ(answers[0][7], 0x05);  // the request's tag
  EXPECT_EQ(answers[0][8], 0x01);  // write protect set at plug-in
}

// The board presents the descriptor of the image it carries: the tool must find 33/17 and no report IDs.
TEST(ImageReportDescriptorTest, IsTheImagesDescriptorUpToItsLastEndCollection) {
  const std::vector<std::uint8_t> descriptor = ImageReportDescriptor(defaultImage);
  ASSERT_EQ(descriptor.size(), 99u);
  EXPECT_EQ(descriptor.back(), 0xC0);
  ReportDescriptorInfo info;
  std::string error;
  ASSERT_TRUE(ParseReportDescriptor(descriptor.data(), descriptor.size(), info, error)) << error;
  EXPECT_EQ(info.ToHidCaps().inputReportByteLength, 33);
  EXPECT_EQ(info.ToHidCaps().outputReportByteLength, 17);

  std::vector<std::uint8_t> cut(defaultImage.begin(), defaultImage.begin() + 6811 + 40);
  EXPECT_TRUE(ImageReportDescriptor(cut).empty());
  // A collection whose End Collection claims a data byte past the image's end.
  std::vector<std::uint8_t> overrun(defaultImage.begin() + 6803, defaultImage.begin() + 6811);
  overrun.insert(overrun.end(), {0xA1, 0x01, 0xC1});
  EXPECT_TRUE(ImageReportDescriptor(overrun).empty());
  const std::vector<std::uint8_t> none(64, 0);
  EXPECT_TRUE(ImageReportDescriptor(none).empty());
}

}  // namespace
}  // namespace kt
