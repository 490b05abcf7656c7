#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "programming/job_harness.h"

namespace kt::test {
namespace {

std::uint8_t NextBlockTag(std::uint8_t tag) {
  return tag < 252 ? static_cast<std::uint8_t>(tag + 1) : 1;
}

// Every request of a whole job, in order, with the tag each must carry when the job starts at `tag`.
std::vector<Request> ExpectedJob(std::uint8_t tag) {
  std::vector<Request> expected;
  auto reg = [&](std::uint16_t address) {
    tag = tag < 240 ? static_cast<std::uint8_t>(tag + 1) : 1;
    expected.push_back({'r', address, 0, tag});
  };
  for (std::uint16_t address : kChipIdAccessSequence) reg(address);
  reg(kChipIdRegister);
  tag = tag < 240 ? static_cast<std::uint8_t>(tag + 1) : 1;  // ReadChipId leaves the tag moved on
  tag = tag < 240 ? static_cast<std::uint8_t>(tag + 1) : 1;  // ReadChipVersion moves it before its first read
  expected.push_back({'r', kChipVersionAccessSequence[0], 0, tag});
  for (std::size_t i = 1; i < kChipVersionAccessSequence.size(); ++i) reg(kChipVersionAccessSequence[i]);
  reg(kChipVersionHighRegister);
  reg(kChipVersionLowRegister);
  // The header clear carries the low-byte read's tag.
  auto block = [&](char kind, std::uint16_t address, std::uint8_t length) {
    expected.push_back({kind, address, length, tag});
    tag = NextBlockTag(tag);
  };
  block('W', 0, 8);
  block('R', 0, 8);
  for (int address = 16392; address >= 8; address -= 8) block('W', static_cast<std::uint16_t>(address), 8);
  block('R', 0, 16);
  for (int address = 16; address < 16400; address += 8) block('R', static_cast<std::uint16_t>(address), 8);
  block('W', 5, 3);
  block('R', 5, 3);
  block('W', 0, 5);
  block('R', 0, 5);
  block('R', 0, 8);
  return expected;
}

class WholeJobTest : public testing::TestWithParam<const char*> {};

TEST_P(WholeJobTest, ProgramsTheImageWithTheExactRequests) {
  JobHarness job(GetParam());
  ASSERT_TRUE(job.RunJob());

  EXPECT_EQ(job.window.Boxes(), std::vector<std::string>{OkBox()});
  const std::vector<std::uint8_t> eeprom = job.board().Eeprom();
  EXPECT_TRUE(std::equal(job.p().image.imageBuffer.begin(), job.p().image.imageBuffer.begin() + 16400,
                         eeprom.begin()));

  const std::vector<Request> requests = Decode(job.board().requests());
  const std::vector<Request> expected = ExpectedJob(2);
  ASSERT_EQ(requests.size(), expected.size());
  const auto blocks = std::count_if(requests.begin(), requests.end(),
                                    [](const Request& r) { return r.kind == 'W' || r.kind == 'R'; });
  EXPECT_EQ(blocks, 4105);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(requests[i], expected[i]) << "request " << i + 1;
  }

  // FinishJob: link closed, button back, progress left where the job put it.
  EXPECT_FALSE(job.p().hidLink.deviceOpen);
  EXPECT_EQ(job.p().jobsFinished, 1);
  // Counted by the worker itself, so the dialog knows the link is free even if a posted call is lost.
  EXPECT_EQ(job.p().jobsEnded.load(), 1u);
  EXPECT_TRUE(job.window.IsEnabled(ctl::kWriteEeprom));
  EXPECT_EQ(job.window.ProgressPos(ctl::kProgress), 100);
  EXPECT_EQ(job.p().jobFinished.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(BoardStates, WholeJobTest, testing::Values("", "blank"));

// The chip needs its pauses: 10 ms after the confirmed register write, 3 ms after each of the 4,105
// successful block transfers, and no other.
TEST(PauseTest, EverySuccessfulTransferIsFollowedByTheChipsPause) {
  JobHarness job;
  job.clock.RecordSleeps();
  ASSERT_TRUE(job.RunJob());
  std::vector<std::uint32_t> expected = {10};
  expected.insert(expected.end(), 4105, 3);
  EXPECT_EQ(job.clock.TakeSleeps(), expected);
}

// A transfer that fails leaves the block tag where it was: the next request carries the failed one's
// tag moved on once, never twice.
TEST(PauseTest, AFailedTransferLeavesTheTagAndTakesNoPause) {
  JobHarness job(AtJobRequest("silent", job_request::kFirstBodyWrite + 10), 200);
  job.clock.RecordSleeps();
  ASSERT_TRUE(job.RunJob());
  const std::vector<Request> first = Decode(job.board().requests());
  ASSERT_EQ(first.size(), job_request::kFirstBodyWrite + 10);
  std::vector<std::uint32_t> expected = {10};
  expected.insert(expected.end(), 2 + 10,
                  3);  // header clear and read, ten body blocks; none after the failure
  EXPECT_EQ(job.clock.TakeSleeps(), expected);

  ASSERT_TRUE(job.Prepare());
  job.StartWorker();
  job.RequestJob();
  ASSERT_TRUE(job.WaitForJobEnd(2));
  job.Exit();
  // Prepare cleared the log, so the first request now is the job's own first; Prepare's two register
  // transfers came in between.
  const std::uint8_t failedTag = first.back().tag;
  std::uint8_t tag = AdvanceRegisterTag(AdvanceRegisterTag(AdvanceRegisterTag(failedTag)));
  EXPECT_EQ(Decode(job.board().requests()).front().tag, tag);
}

TEST(ProgressTest, EachJobShowsEveryPositionOnceFromZeroToHundred) {
  // The body's 2,049 blocks run the bar 0..50 and the read-back's 2,049 requests 50..100; the window is
  // told each position once, when it changes. A job that failed at the 10th block had only shown 0: the
  // next job starts from 0 again all the same.
  std::vector<std::string> once;
  for (int position = 0; position <= 100; ++position) once.push_back(std::to_string(position));
  JobHarness job(AtJobRequest("silent", job_request::kFirstBodyWrite + 10), 200);
  ASSERT_TRUE(job.RunJob());
  EXPECT_EQ(job.Progress(), std::vector<std::string>{"0"});
  ASSERT_TRUE(job.Prepare());
  job.StartWorker();
  job.RequestJob();
  ASSERT_TRUE(job.WaitForJobEnd(2));
  job.Exit();
  once.insert(once.begin(), "0");
  EXPECT_EQ(job.Progress(), once);
}

// What the board must hold after a failed job, byte by byte over the programmed range.
enum class Header { kErased, kZero, kImage, kHeadZero, kNotChecked };
enum class Body { kErased, kImage, kTopDownFromFailure };

struct FaultCase {
  const char* name;
  std::string options;
  int number;
  Header header = Header::kZero;
  Body body = Body::kErased;
  std::function<void(JobHarness&)> arrange = nullptr;
  std::uint32_t failedBodyBlock = 0;  // for kTopDownFromFailure: the job request that got no answer
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class FaultMatrixTest : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrixTest, EndsWithTheStepsNumberAndLeavesTheBoardAsDocumented) {
  const FaultCase& c = GetParam();
  JobHarness job("blank," + c.options);
  if (c.arrange) c.arrange(job);
  ASSERT_TRUE(job.RunJob());

  std::vector<std::string> boxes;
  if (c.number == job_failure::kBodyWrite) boxes.push_back(BodyWriteFailedBox());
  if (c.number == job_failure::kReadBack) boxes.push_back(ReadBackFailedBox());
  boxes.push_back(ResultBox(c.number));
  EXPECT_EQ(job.window.Boxes(), boxes);
  EXPECT_FALSE(job.p().hidLink.deviceOpen);
  EXPECT_EQ(job.p().jobsFinished, 1);
  // Counted by the worker itself, so the dialog knows the link is free even if a posted call is lost.
  EXPECT_EQ(job.p().jobsEnded.load(), 1u);
  EXPECT_TRUE(job.window.IsEnabled(ctl::kWriteEeprom));

  const std::vector<std::uint8_t> eeprom = job.board().Eeprom();
  const auto& image = job.p().image.imageBuffer;
  for (std::size_t i = 0; i < 8; ++i) {
    switch (c.header) {
      case Header::kErased:
        EXPECT_EQ(eeprom[i], SimBoard::kErasedByte) << "header byte " << i;
        break;
      case Header::kZero:
        EXPECT_EQ(eeprom[i], 0) << "header byte " << i;
        break;
      case Header::kImage:
        EXPECT_EQ(eeprom[i], image[i]) << "header byte " << i;
        break;
      case Header::kHeadZero:
        if (i < 5) {
          EXPECT_EQ(eeprom[i], 0) << "header byte " << i;
        }
        break;
      case Header::kNotChecked:
        break;
    }
  }
  // Blocks go out top-down from 16,392; the failed one may or may not have landed.
  const std::size_t failedAddress = 16392 - 8 * (c.failedBodyBlock - job_request::kFirstBodyWrite);
  for (std::size_t i = 8; i < 16400; ++i) {
    std::uint8_t want = image[i];
    if (c.body == Body::kErased) want = SimBoard::kErasedByte;
    if (c.body == Body::kTopDownFromFailure) {
      if (i >= failedAddress && i < failedAddress + 8) continue;
      if (i < failedAddress) want = SimBoard::kErasedByte;
    }
    ASSERT_EQ(eeprom[i], want) << "EEPROM byte " << i;
  }
}

// The final header read is the last request; changing the EEPROM just before it is a cell that did not
// keep what was written and confirmed a moment ago.
void SpoilHeaderBeforeFinalRead(JobHarness& job) {
  job.tap.At(job_request::kFinalHeaderRead, [&job] {
    const std::uint8_t spoilt = static_cast<std::uint8_t>(job.p().image.imageBuffer[0] ^ 0xFF);
    job.board().SetEeprom(std::vector<std::uint8_t>{spoilt}, 0);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, FaultMatrixTest,
    testing::Values(
        FaultCase{"ChipIdUnanswered", AtJobRequest("silent", job_request::kChipIdRead),
                  job_failure::kChipIdRead, Header::kErased},
        FaultCase{"WrongChipId", "chip-id=5", job_failure::kWrongChipId, Header::kErased},
        FaultCase{"VersionHighUnanswered", AtJobRequest("silent", job_request::kVersionHighRead),
                  job_failure::kChipVersionRead, Header::kErased},
        FaultCase{"VersionLowUnanswered", AtJobRequest("silent", job_request::kVersionLowRead),
                  job_failure::kChipVersionRead, Header::kErased},
        FaultCase{"WrongVersion", "chip-version=0x7390", job_failure::kWrongChipVersion, Header::kErased},
        FaultCase{"HeaderClearUnanswered", AtJobRequest("silent", job_request::kHeaderClear),
                  job_failure::kHeaderClear, Header::kNotChecked},
        FaultCase{"ClearedHeaderUnread", AtJobRequest("silent", job_request::kHeaderRead),
                  job_failure::kClearedHeaderRead, Header::kZero},
        FaultCase{"HeaderClearNotStored", "lie@0", job_failure::kHeaderNotCleared, Header::kErased},
        FaultCase{"BodyBlockUnanswered", AtJobRequest("silent", job_request::kFirstBodyWrite + 100),
                  job_failure::kBodyWrite, Header::kZero, Body::kTopDownFromFailure, nullptr,
                  job_request::kFirstBodyWrite + 100},
        FaultCase{"LastBodyBlockUnanswered", AtJobRequest("silent", job_request::kFirstReadBack - 1),
                  job_failure::kBodyWrite, Header::kZero, Body::kTopDownFromFailure, nullptr,
                  job_request::kFirstReadBack - 1},
        FaultCase{"ReadBackUnanswered", AtJobRequest("silent", job_request::kFirstReadBack + 500),
                  job_failure::kReadBack, Header::kZero, Body::kImage},
        FaultCase{"FirstReadBackUnanswered", AtJobRequest("silent", job_request::kFirstReadBack),
                  job_failure::kReadBack, Header::kZero, Body::kImage},
        FaultCase{"BodyByteDiffers", "flip@9000:3", job_failure::kBodyMismatch, Header::kZero, Body::kImage},
        FaultCase{"LastBodyByteDiffers", "flip@16399:7", job_failure::kBodyMismatch, Header::kZero,
                  Body::kImage},
        FaultCase{"HeaderTailUnanswered", AtJobRequest("silent", job_request::kTailWrite),
                  job_failure::kHeaderWrite, Header::kHeadZero, Body::kImage},
        FaultCase{"HeaderTailReadUnanswered", AtJobRequest("silent", job_request::kTailRead),
                  job_failure::kHeaderWrite, Header::kHeadZero, Body::kImage},
        FaultCase{"HeaderHeadUnanswered", AtJobRequest("silent", job_request::kHeadWrite),
                  job_failure::kHeaderWrite, Header::kNotChecked, Body::kImage},
        FaultCase{"HeaderHeadReadUnanswered", AtJobRequest("silent", job_request::kHeadRead),
                  job_failure::kHeaderWrite, Header::kImage, Body::kImage},
        FaultCase{"HeaderChangedAfterWrite", "", job_failure::kHeaderMismatch, Header::kNotChecked,
                  Body::kImage, SpoilHeaderBeforeFinalRead},
        FaultCase{"FinalHeaderReadUnanswered", AtJobRequest("silent", job_request::kFinalHeaderRead),
                  job_failure::kFinalHeaderRead, Header::kImage, Body::kImage}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST(HeaderTest, TailThatDoesNotReadBackStopsBeforeTheHead) {
  JobHarness job("blank");
  // The tail lands, then changes before it is read back.
  job.tap.At(job_request::kTailRead, [&job] {
    job.board().SetEeprom(std::vector<std::uint8_t>{static_cast<std::uint8_t>(~job.p().image.imageBuffer[6])},
                          6);
  });
  ASSERT_TRUE(job.RunJob());
  EXPECT_EQ(job.window.Boxes(), std::vector<std::string>{ResultBox(job_failure::kHeaderWrite)});
  const std::vector<Request> requests = Decode(job.board().requests());
  ASSERT_EQ(requests.size(), job_request::kTailRead);
  EXPECT_EQ(requests.back(), (Request{'R', 5, 3, requests.back().tag}));
  const std::vector<std::uint8_t> eeprom = job.board().Eeprom();
  for (int i = 0; i < 5; ++i) EXPECT_EQ(eeprom[i], 0) << i;
}

TEST(VersionCheckTest, IgnoresOnlyTheLowFourBits) {
  JobHarness low("chip-version=0x738F");
  ASSERT_TRUE(low.RunJob());
  EXPECT_EQ(low.window.Boxes(), std::vector<std::string>{OkBox()});
  EXPECT_EQ(low.p().chipVersion, 0x738Fu);

  JobHarness high("chip-version=0x7280");
  ASSERT_TRUE(high.RunJob());
  EXPECT_EQ(high.window.Boxes(), std::vector<std::string>{ResultBox(job_failure::kWrongChipVersion)});
}

}  // namespace
}  // namespace kt::test
