#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/event.h"
#include "programming/job_harness.h"

namespace kt::test {
namespace {

bool Recorded(const HeadlessWindow& window, const std::string& entry) {
  const std::vector<std::string> calls = window.Calls();
  return std::find(calls.begin(), calls.end(), entry) != calls.end();
}

TEST(WorkerTest, ExitWithNoJobEndsTheIdleWorker) {
  JobHarness job;
  job.StartWorker();
  job.Exit();
  EXPECT_EQ(job.p().workerExited.load(), 1);
  ASSERT_TRUE(job.p().workerDoneEvent);
  EXPECT_TRUE(job.p().workerDoneEvent->IsSet());
  EXPECT_EQ(job.p().jobsFinished, 0);
  EXPECT_TRUE(job.window.Boxes().empty());
  EXPECT_LT(job.clock.NowMicros(), 6000u * 1000);  // ended by the worker, not by the bound
  job.Exit();                                      // a second stop finds nothing to do
}

TEST(WorkerTest, ExitWithoutDoneEventWatchesWorkerExited) {
  JobHarness job;
  job.StartWorker();
  job.p().workerDoneEvent.reset();  // as when the event could not be created
  job.Exit();
  EXPECT_EQ(job.p().workerExited.load(), 1);
  EXPECT_LT(job.clock.NowMicros(), 6000u * 1000);
}

TEST(WorkerTest, StopWithoutWorkerReturns) {
  JobHarness job;
  job.Exit();
  EXPECT_EQ(job.p().workerExited.load(), 0);
}

struct ExitCase {
  const char* name;
  std::uint32_t beforeRequest;  // Exit is pressed just before this job request goes out
  std::vector<std::string> boxes;
  bool headCleared;  // header bytes 0..4; else they still hold the image's
};

void PrintTo(const ExitCase& c, std::ostream* os) {
  *os << c.name;
}

class ExitDuringJobTest : public testing::TestWithParam<ExitCase> {};

// The programmed board starts with the image's header, so a cleared head shows where the job stopped.
TEST_P(ExitDuringJobTest, StopsAtTheNextCheckAndFinishesTheJob) {
  const ExitCase& c = GetParam();
  JobHarness job;
  ASSERT_TRUE(job.Prepare());
  job.ExitBefore(c.beforeRequest);
  job.StartWorker();
  job.RequestJob();
  ASSERT_TRUE(job.WaitForExitDone());

  EXPECT_EQ(job.window.Boxes(), c.boxes);
  EXPECT_EQ(job.p().jobsFinished, 1);
  EXPECT_FALSE(job.p().hidLink.deviceOpen);
  EXPECT_EQ(job.p().workerExited.load(), 1);
  const std::vector<std::uint8_t> eeprom = job.board().Eeprom();
  const bool headZero =
      std::all_of(eeprom.begin(), eeprom.begin() + 5, [](std::uint8_t b) { return b == 0; });
  EXPECT_EQ(headZero, c.headCleared);
  // Nothing goes out after the check that failed.
  const std::vector<Request> sent = Decode(job.board().requests());
  if (c.boxes.back() != OkBox()) {
    EXPECT_EQ(sent.size(), std::max(c.beforeRequest, job_request::kVersionLowRead));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Phases, ExitDuringJobTest,
    testing::Values(
        // Identification does not look at the stop; the header clear does.
        ExitCase{"Identifying", 1, {ResultBox(job_failure::kHeaderClear)}, false},
        ExitCase{"CheckingClearedHeader",
                 job_request::kHeaderRead,
                 {BodyWriteFailedBox(), ResultBox(job_failure::kBodyWrite)},
                 true},
        ExitCase{"WritingBody",
                 job_request::kFirstBodyWrite + 500,
                 {BodyWriteFailedBox(), ResultBox(job_failure::kBodyWrite)},
                 true},
        ExitCase{"ReadingBack",
                 job_request::kFirstReadBack + 100,
                 {ReadBackFailedBox(), ResultBox(job_failure::kReadBack)},
                 true},
        // Exit while the last read-back goes out: the header write must not start at all.
        ExitCase{
            "BeforeTheHeader", job_request::kTailWrite - 1, {ResultBox(job_failure::kHeaderWrite)}, true},
        ExitCase{"WritingHeader", job_request::kTailWrite, {ResultBox(job_failure::kHeaderWrite)}, true},
        ExitCase{
            "ReadingHeaderHead", job_request::kHeadRead, {ResultBox(job_failure::kFinalHeaderRead)}, false},
        ExitCase{"FinalHeaderRead", job_request::kFinalHeaderRead, {OkBox()}, false}),
    [](const testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

TEST(WorkerTest, WorkerWaitingToShowABoxFinishesWhileExitWaits) {
  JobHarness job("chip-id=3");
  ASSERT_TRUE(job.Prepare());
  job.StartWorker();
  // The window thread is busy until the worker's result box is queued, then Exit runs there.
  job.window.Run([&job] {
    job.RequestJob();
    job.window.WaitForQueuedCall();
    job.p().StopWorker();
  });
  // The box and FinishJob were carried out by Exit's wait, not cut off by its bound.
  EXPECT_EQ(job.window.Boxes(), std::vector<std::string>{ResultBox(job_failure::kWrongChipId)});
  EXPECT_TRUE(Recorded(job.window, "enable|1002|1"));
  EXPECT_EQ(job.p().workerExited.load(), 1);
  EXPECT_LT(job.clock.NowMicros(), 6000u * 1000);
}

struct StuckCase {
  const char* name;
  std::uint32_t stuckAt;  // the job request the worker is stuck in
  bool withDoneEvent;
};

void PrintTo(const StuckCase& c, std::ostream* os) {
  *os << c.name;
}

class StuckWorkerTest : public testing::TestWithParam<StuckCase> {};

// A worker that does not come back within the bound (here: stuck inside a write until Exit has given up
// on it) is cut off from the window, sends nothing more, and is still joined before Exit returns.
TEST_P(StuckWorkerTest, IsDetachedFromTheWindowAfterTheBoundAndJoined) {
  const StuckCase& c = GetParam();
  JobHarness job("", /*realWaitBoundMs=*/50);
  ASSERT_TRUE(job.Prepare());
  job.tap.At(c.stuckAt, [&job] {
    job.PostExit();
    // The second pump is the one after the bound, with the worker already detached.
    job.window.WaitForCall("pump|6000", 2);
  });
  job.StartWorker();
  if (!c.withDoneEvent) job.p().workerDoneEvent.reset();
  job.RequestJob();
  ASSERT_TRUE(job.WaitForExitDone());

  EXPECT_EQ(job.p().workerExited.load(), 1);
  EXPECT_EQ(job.p().jobsFinished, 1);  // FinishJob ran, without its window call
  EXPECT_FALSE(job.p().hidLink.deviceOpen);
  EXPECT_TRUE(job.window.Boxes().empty());
  EXPECT_FALSE(Recorded(job.window, "enable|1002|1"));
  // Exit cancelled the link's writes before it waited again, so the stuck one never reached the board.
  EXPECT_EQ(Decode(job.board().requests()).size(), c.stuckAt - 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StuckWorkerTest,
    testing::Values(StuckCase{"InBody", job_request::kFirstBodyWrite + 10, true},
                    StuckCase{"InBodyWithoutDoneEvent", job_request::kFirstBodyWrite + 10, false},
                    // Identification would otherwise go on for all its reads.
                    StuckCase{"InIdentification", 3, true}),
    [](const testing::TestParamInfo<StuckCase>& info) { return std::string(info.param.name); });

// A board that stops taking output reports leaves the worker inside a write that does not come back by
// itself. Exit cancels it once the worker is cut off, and gets the worker back within its second bound.
class HeldWriteTest : public testing::TestWithParam<StuckCase> {};

TEST_P(HeldWriteTest, IsCancelledAfterTheBoundAndTheWorkerJoined) {
  const StuckCase& c = GetParam();
  JobHarness job(AtJobRequest("hang", c.stuckAt), /*realWaitBoundMs=*/50);
  ASSERT_TRUE(job.Prepare());
  job.tap.At(c.stuckAt, [&job] { job.PostExit(); });  // then the write goes in, and stays
  job.StartWorker();
  if (!c.withDoneEvent) job.p().workerDoneEvent.reset();
  job.RequestJob();
  ASSERT_TRUE(job.WaitForExitDone());

  EXPECT_EQ(job.p().workerExited.load(), 1);
  EXPECT_EQ(job.p().jobsFinished, 1);
  EXPECT_FALSE(job.p().hidLink.deviceOpen);
  EXPECT_TRUE(job.window.Boxes().empty());  // cut off before the failure's boxes
  EXPECT_EQ(Decode(job.board().requests()).size(), c.stuckAt);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeldWriteTest,
    testing::Values(StuckCase{"InBody", job_request::kFirstBodyWrite + 10, true},
                    StuckCase{"InBodyWithoutDoneEvent", job_request::kFirstBodyWrite + 10, false},
                    StuckCase{"InIdentification", 3, true},
                    StuckCase{"InHeaderWrite", job_request::kTailWrite, true}),
    [](const testing::TestParamInfo<StuckCase>& info) { return std::string(info.param.name); });

// A write that no cancel gets back (a driver that ignores it): Exit still ends, by ending the process,
// after the front-end's handler has had its say.
TEST(WorkerDeathTest, AWriteThatNeverComesBackEndsTheProcessAfterTheSecondBound) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        JobHarness job(AtJobRequest("wedge", job_request::kFirstBodyWrite + 10), /*realWaitBoundMs=*/50);
        job.p().SetWorkerStuckHandler([] { std::fputs("stuck handler ran\n", stderr); });
        if (!job.Prepare()) std::_Exit(1);
        job.tap.At(job_request::kFirstBodyWrite + 10, [&job] { job.PostExit(); });
        job.StartWorker();
        job.RequestJob();
        job.WaitForExitDone();
        std::_Exit(0);  // Exit returned: the fault this test is here for
      },
      testing::ExitedWithCode(kWorkerStuckExitStatus), "stuck handler ran");
}

TEST(WorkerTest, DestroyingTheProgrammerDuringAJobStopsTheWorkerFirst) {
  JobHarness job;
  ASSERT_TRUE(job.Prepare());
  Event reached;
  job.tap.At(job_request::kFirstBodyWrite + 300, [&] {
    reached.Set();
    job.window.WaitForCall("pump|6000");  // the destructor's stop is waiting
  });
  job.StartWorker();
  job.RequestJob();
  ASSERT_TRUE(reached.Wait(job.testWaits, 60000));
  job.programmer.reset();  // on this thread, not the window's: the window thread carries the boxes

  EXPECT_EQ(job.window.Boxes(),
            (std::vector<std::string>{BodyWriteFailedBox(), ResultBox(job_failure::kBodyWrite)}));
  EXPECT_TRUE(Recorded(job.window, "enable|1002|1"));
}

// Many jobs on one worker, one after the other, as on a production line (KT_SOAK_JOBS, default 3).
TEST(WorkerSoakTest, JobAfterJobOnOneWorker) {
  const char* env = std::getenv("KT_SOAK_JOBS");
  const std::size_t jobs = env ? std::strtoul(env, nullptr, 10) : 3;
  JobHarness job;
  job.StartWorker();
  for (std::size_t n = 1; n <= jobs; ++n) {
    ASSERT_TRUE(job.Prepare()) << "job " << n;
    job.window.ClearCalls();
    job.RequestJob();
    ASSERT_TRUE(job.WaitForJobEnd()) << "job " << n;
    ASSERT_EQ(job.window.Boxes(), std::vector<std::string>{OkBox()}) << "job " << n;
  }
  job.Exit();
  EXPECT_EQ(job.p().jobsFinished, static_cast<int>(jobs));
}

}  // namespace
}  // namespace kt::test
