#include "hid/win32/overlapped_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <thread>

#include "win32/pipe_pair.h"

namespace kt::win32 {
namespace {

constexpr std::uint8_t kUntouched = 0xEE;
// Long enough never to run out while a report is on its way; the tests never wait it out.
constexpr std::uint32_t kPatientMs = 60000;

class OverlappedReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pipe.valid());
    toolEnd = pipe.OpenToolEnd(FILE_FLAG_OVERLAPPED);
    ASSERT_TRUE(toolEnd.valid());
    out.fill(kUntouched);
  }

  PipePair pipe;
  ScopedHandle toolEnd;
  std::array<std::uint8_t, 64> out{};
};

TEST_F(OverlappedReaderTest, AWaitingReportIsCopiedOut) {
  OverlappedReader reader(toolEnd.get(), 0);
  ASSERT_TRUE(pipe.Send({0x00, 1, 2, 3, 4, 5, 6, 0xF1, 0x08, 9}));

  const HidReadResult result = reader.Read(out.data(), out.size(), kPatientMs);
  ASSERT_EQ(result.status, HidReadResult::Status::kCompleted);
  // The count ReadFile itself reported: the whole report when it finished at once, 0 when it went pending.
  EXPECT_TRUE(result.byteCount == 10 || result.byteCount == 0) << result.byteCount;
  EXPECT_EQ(out[7], 0xF1);
  EXPECT_EQ(out[9], 9);
  EXPECT_EQ(out[10], kUntouched);
}

TEST_F(OverlappedReaderTest, AReportThatArrivesWhileTheReadWaitsCompletesIt) {
  OverlappedReader reader(toolEnd.get(), 0);
  std::thread device([this] { pipe.Send({0x00, 0, 0, 0, 0, 0, 0, 0x2A}); });

  const HidReadResult result = reader.Read(out.data(), out.size(), kPatientMs);
  device.join();
  ASSERT_EQ(result.status, HidReadResult::Status::kCompleted);
  EXPECT_EQ(out[7], 0x2A);
}

// Wine's HID class driver can strand a report that arrives while a read is being queued: the answer to
// every request must find a read already waiting, whatever came before the request.
TEST_F(OverlappedReaderTest, AReadIsWaitingBeforeEachRequestGoesOut) {
  enum class Before { kNothing, kAReport, kATimeOut };
  const struct {
    const char* name;
    Before before;
  } cases[] = {
      {"the link's first request", Before::kNothing},
      {"a request after an answer", Before::kAReport},
      {"a request after a timed-out read", Before::kATimeOut},
  };
  constexpr std::size_t kReportLength = 8;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    out.fill(kUntouched);
    PipePair link;
    ScopedHandle end = link.OpenToolEnd(FILE_FLAG_OVERLAPPED);
    ASSERT_TRUE(end.valid());
    OverlappedReader reader(end.get(), kReportLength);
    if (c.before == Before::kAReport) {
      ASSERT_TRUE(link.Send({0x00, 0, 0, 0, 0, 0, 0, 0x01}));
      ASSERT_EQ(reader.Read(out.data(), out.size(), kPatientMs).status, HidReadResult::Status::kCompleted);
    } else if (c.before == Before::kATimeOut) {
      ASSERT_EQ(reader.Read(out.data(), out.size(), 1).status, HidReadResult::Status::kTimedOut);
    }

    ASSERT_TRUE(link.Send({0x00, 0, 0, 0, 0, 0, 0, 0x02}));
    DWORD waiting = 99;
    ASSERT_TRUE(PeekNamedPipe(end.get(), nullptr, 0, nullptr, &waiting, nullptr));
    EXPECT_EQ(waiting, 0u) << "the report went into the pipe's queue, not into a read posted ahead";
    ASSERT_EQ(reader.Read(out.data(), out.size(), kPatientMs).status, HidReadResult::Status::kCompleted);
    EXPECT_EQ(out[7], 0x02);
  }
}

TEST_F(OverlappedReaderTest, CopiesNoMoreThanTheCallerCanTake) {
  OverlappedReader reader(toolEnd.get(), 16);  // the read itself always asks for the whole report
  std::vector<std::uint8_t> report(16);
  for (std::size_t i = 0; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_TRUE(pipe.Send(report));

  ASSERT_EQ(reader.Read(out.data(), 8, kPatientMs).status, HidReadResult::Status::kCompleted);
  EXPECT_EQ(out[7], 8);
  EXPECT_EQ(out[8], kUntouched);
}

TEST_F(OverlappedReaderTest, ATimedOutReadIsFinishedBeforeItReturns) {
  OverlappedReader reader(toolEnd.get(), 0);
  EXPECT_EQ(reader.Read(out.data(), out.size(), 1).status, HidReadResult::Status::kTimedOut);

  // A report that comes after the time-out must neither land in the caller's buffer nor be swallowed by
  // the cancelled read: the next read gets it.
  ASSERT_TRUE(pipe.Send({0x00, 0, 0, 0, 0, 0, 0, 0x33}));
  EXPECT_EQ(out[7], kUntouched);
  ASSERT_EQ(reader.Read(out.data(), out.size(), kPatientMs).status, HidReadResult::Status::kCompleted);
  EXPECT_EQ(out[7], 0x33);
}

TEST_F(OverlappedReaderTest, AReadThatCannotStartFailsAtOnce) {
  OverlappedReader reader(toolEnd.get(), 0);
  pipe.Unplug();
  // Waiting out the time-out here would be a wait on an event no one can set.
  const HidReadResult result = reader.Read(out.data(), out.size(), kPatientMs);
  EXPECT_EQ(result.status, HidReadResult::Status::kFailed);
  ASSERT_TRUE(reader.lastError().has_value());
  EXPECT_EQ(reader.lastError()->operation(), "ReadFile");
  EXPECT_EQ(out[0], kUntouched);
}

TEST_F(OverlappedReaderTest, AReadEndedByUnplugIsNotAReport) {
  OverlappedReader reader(toolEnd.get(), 0);
  // Whether the unplug comes before the read starts or while it waits, no report may come out of it: a
  // "completed" read here would hand the protocol whatever the previous answer left in its buffer.
  std::thread device([this] { pipe.Unplug(); });
  const HidReadResult result = reader.Read(out.data(), out.size(), kPatientMs);
  device.join();
  EXPECT_EQ(result.status, HidReadResult::Status::kFailed);
  EXPECT_EQ(out[7], kUntouched);
}

}  // namespace
}  // namespace kt::win32
