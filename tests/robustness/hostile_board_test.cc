// Broken and malicious devices: odd report lengths, reads that lie about their size, forged answers,
// floods, a board that disappears, a board that never answers. Whatever the device does, the job ends
// in its failure path with one result box, the link closed and "Write EEPROM" back, and nothing written
// past a buffer (this suite runs under ASan and UBSan too).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/chip_registers.h"
#include "hid/hid_link.h"
#include "hid/report_protocol.h"
#include "hid/sim/sim_board.h"
#include "hid/sim/sim_options.h"
#include "programming/job_messages.h"
#include "robustness/dialog_job.h"
#include "robustness/hostile_backend.h"
#include "support/scripted_backend.h"

namespace kt::test {
namespace {

using Texts = std::vector<std::string>;

// Generous for a job in virtual time (twenty time-outs and every pause); only a job that never ends
// runs into it.
constexpr std::uint64_t kJobBoundMs = 200000;
// Requests of the write-protect release that come before the job's own on a blank board.
constexpr std::uint32_t kPreparation = 2;
constexpr std::uint32_t kHeaderClear = kPreparation + 18;
constexpr std::uint32_t kHeaderRead = kPreparation + 19;
constexpr std::uint32_t kFirstBodyWrite = kPreparation + 20;
constexpr std::uint32_t kFirstReadBack = kPreparation + 2069;

const std::string kNotFoundThenCantWrite[] = {prep_text::kNotFoundAbsent, prep_text::kEraseNotOpened};

std::string Result(int number) {
  return number == 0 ? job_text::kWriteOk : JobFailureText(number);
}

SimOptions Blank() {
  SimOptions options;
  options.start = SimOptions::StartState::kBlank;
  return options;
}

bool IsBlockRead(const std::vector<std::uint8_t>& request) {
  return request.size() > 2 && request[2] == 0x12;
}

class HostileBoardTest : public ::testing::Test {
 protected:
  // The dialog starts (and probes the board) only now, after the test has set the device's behaviour.
  DialogJob& Start() {
    job = std::make_unique<DialogJob>(hostile, clock);
    return *job;
  }
  // One press of "Write EEPROM"; the boxes it showed.
  Texts Press() {
    if (!job) Start();
    EXPECT_TRUE(job->Press(kJobBoundMs)) << "the job did not end";
    EXPECT_TRUE(job->LinkClosed());
    EXPECT_TRUE(job->WriteEnabled());
    return job->LastBoxes();
  }
  // The board as it boots now: a job that did not finish must leave it enumerating as blank.
  std::uint16_t Replugged() {
    hostile.board().Unplug();
    hostile.board().Plug();
    return hostile.board().productId();
  }
  bool HeaderZero() {
    const std::vector<std::uint8_t> e = hostile.board().Eeprom();
    return std::all_of(e.begin(), e.begin() + 8, [](std::uint8_t b) { return b == 0; });
  }
  // Runs the device-change calls the board's unplug or plug-in posted to the window. A probe that came
  // while the last job's end was still on its way from the worker waits for it, and runs then.
  void DeliverDeviceChanges() {
    job->window.PumpMessagesUntil(clock, 0, [] { return false; });
    EXPECT_TRUE(job->window.PumpMessagesUntil(clock, 60000, [this] { return !job->dialog->ProbePending(); }));
  }

  VirtualClock clock;
  SimBackend sim{Blank(), clock};
  HostileBackend hostile{sim};
  std::unique_ptr<DialogJob> job;
};

// --- declared report lengths ------------------------------------------------------------------------

struct LengthCase {
  bool input;  // which length the device declares oddly
  std::uint16_t length;
  int result;  // 1: refused at open, so no job at all
};

void PrintTo(const LengthCase& c, std::ostream* os) {
  *os << (c.input ? "input " : "output ") << c.length;
}

class ReportLengthTest : public HostileBoardTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(ReportLengthTest, EveryLengthIsRefusedOrEndsTheJobWithoutOverflow) {
  const LengthCase c = GetParam();
  (c.input ? hostile.inputLength : hostile.outputLength) = c.length;
  const Texts boxes = Press();
  if (c.result == 1) {
    EXPECT_EQ(boxes, Texts(std::begin(kNotFoundThenCantWrite), std::end(kNotFoundThenCantWrite)));
    EXPECT_EQ(hostile.writes(), 0u);
  } else {
    EXPECT_EQ(boxes, Texts{Result(c.result)});
  }
  // The tool's buffers are kMaxReportLength long and it never offers or hands over more.
  EXPECT_LE(hostile.longestWrite(), kMaxReportLength);
  EXPECT_LE(hostile.largestCapacity(), kMaxReportLength);
  if (c.result != 0) {
    EXPECT_EQ(Replugged(), kBlankProductId);
  }
}

// An input report of up to 8 bytes ends before the register value; 9 bytes carry it but no block
// answer (which is looked at from 10 bytes on); the board's own 33-byte answers fit in 64. Output
// reports of any length but the board's own are not taken by the board.
INSTANTIATE_TEST_SUITE_P(
    Lengths, ReportLengthTest,
    ::testing::Values(LengthCase{true, 0, 1}, LengthCase{true, 1, -1}, LengthCase{true, 8, -1},
                      LengthCase{true, 9, -5}, LengthCase{true, 64, 0}, LengthCase{true, 65, 1},
                      LengthCase{true, 4096, 1}, LengthCase{false, 0, 1}, LengthCase{false, 1, -1},
                      LengthCase{false, 8, -1}, LengthCase{false, 9, -1}, LengthCase{false, 64, -1},
                      LengthCase{false, 65, 1}, LengthCase{false, 4096, 1}),
    [](const auto& info) {
      return std::string(info.param.input ? "input_" : "output_") + std::to_string(info.param.length);
    });

// --- reads that say something else than they hold ------------------------------------------------------

struct CountCase {
  const char* name;
  std::size_t size;   // the report's bytes are cut or padded (with 0xEE) to this, 0 for unchanged
  std::size_t count;  // the count the read reports, or kUnchanged
  int result;
};
void PrintTo(const CountCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr std::size_t kUnchanged = ~std::size_t{0};

class ReadCountTest : public HostileBoardTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(ReadCountTest, ACountThatLiesIsNeverTakenPastTheBuffer) {
  const CountCase c = GetParam();
  hostile.rewrite = [c](std::vector<std::uint8_t>& report, std::size_t& count) {
    if (c.size != 0) report.resize(c.size, 0xEE);
    if (c.count != kUnchanged) count = c.count;
  };
  EXPECT_EQ(Press(), Texts{Result(c.result)});
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ReadCountTest,
    ::testing::Values(CountCase{"far more than the report", 0, HostileBackend::kLargestReport, 0},
                      // Windows' "still pending when started": the whole input report counts.
                      CountCase{"zero", 0, 0, 0},
                      CountCase{"report longer than declared", HostileBackend::kLargestReport, kUnchanged, 0},
                      CountCase{"report and count longer", HostileBackend::kLargestReport,
                                HostileBackend::kLargestReport, 0},
                      CountCase{"less than the answer", 0, 7, -1},
                      CountCase{"report cut before the tag", 5, kUnchanged, -1},
                      // The cleared buffer shows through: a chip ID of 0, not a made-up one.
                      CountCase{"report cut after the tag", 8, kUnchanged, -2}),
    [](const auto& info) {
      std::string name = info.param.name;
      std::replace_if(
          name.begin(), name.end(), [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); },
          '_');
      return name;
    });

// --- forged answers -----------------------------------------------------------------------------------

TEST_F(HostileBoardTest, BlockAnswersWithTheirTagAndAHugeLengthByteAreNotTaken) {
  bool blockRead = false;
  hostile.beforeWrite = [&](std::uint32_t, const std::vector<std::uint8_t>& request) {
    blockRead = IsBlockRead(request);
  };
  hostile.rewrite = [&](std::vector<std::uint8_t>& report, std::size_t&) {
    if (blockRead && report.size() > 8) report[8] = 0xFF;
  };
  EXPECT_EQ(Press(), Texts{Result(-6)});
  EXPECT_TRUE(HeaderZero());
  EXPECT_EQ(Replugged(), kBlankProductId);
}

TEST_F(HostileBoardTest, AHugeLengthByteInTheReadBackEndsItWithItsOwnBoxFirst) {
  bool corrupt = false;
  hostile.beforeWrite = [&](std::uint32_t request, const std::vector<std::uint8_t>& report) {
    corrupt = request >= kFirstReadBack + 100 && IsBlockRead(report);
  };
  hostile.rewrite = [&](std::vector<std::uint8_t>& report, std::size_t& count) {
    if (!corrupt) return;
    // The answer claims far more data than it has room for, and the read claims the largest report.
    report.resize(HostileBackend::kLargestReport, 0xAB);
    report[8] = 0xFF;
    count = HostileBackend::kLargestReport;
  };
  EXPECT_EQ(Press(), (Texts{job_text::kReadBackFailed, Result(-9)}));
  EXPECT_TRUE(HeaderZero());
  EXPECT_EQ(Replugged(), kBlankProductId);
}

TEST_F(HostileBoardTest, ARegisterAnswerOfAllOnesIsAWrongChipNotAnOverflow) {
  bool registerRead = false;
  hostile.beforeWrite = [&](std::uint32_t, const std::vector<std::uint8_t>& r) {
    registerRead = r[2] == 0x22;
  };
  hostile.rewrite = [&](std::vector<std::uint8_t>& report, std::size_t& count) {
    if (!registerRead) return;
    std::fill(report.begin() + 8, report.end(), 0xFF);
    report.resize(HostileBackend::kLargestReport, 0xFF);
    count = HostileBackend::kLargestReport;
  };
  EXPECT_EQ(Press(), Texts{Result(-2)});
  EXPECT_EQ(sim.board().Eeprom(), std::vector<std::uint8_t>(SimBoard::kEepromSize, SimBoard::kErasedByte));
}

// --- floods -----------------------------------------------------------------------------------------

TEST_F(HostileBoardTest, AFloodBeforeTheHeaderClearEndsItAfterTheReadLimit) {
  hostile.beforeWrite = [&](std::uint32_t request, const std::vector<std::uint8_t>& report) {
    if (request == kHeaderClear) hostile.Flood(static_cast<std::uint8_t>(report[1] ^ 0x55), 100000);
  };
  const Texts boxes = Press();
  EXPECT_EQ(boxes, Texts{Result(-5)});
  // The clear gave up after its read limit; nothing further was read.
  EXPECT_EQ(hostile.reads(), kHeaderClear - 1 + static_cast<std::uint32_t>(kBlockReadLimit));
}

TEST_F(HostileBoardTest, AFloodDuringIdentificationEndsTheJobWithoutWaitingOutTimeOuts) {
  hostile.beforeWrite = [&](std::uint32_t request, const std::vector<std::uint8_t>&) {
    if (request == kPreparation + 1) hostile.Flood(0, 1000000);
  };
  EXPECT_EQ(Press(), Texts{Result(-1)});
  // Each of the eight register reads of the chip ID took its full share of the flood and no more.
  EXPECT_EQ(hostile.reads(), kPreparation + 8u * static_cast<std::uint32_t>(kRegisterReadLimit));
  EXPECT_EQ(sim.board().Eeprom(), std::vector<std::uint8_t>(SimBoard::kEepromSize, SimBoard::kErasedByte));
}

TEST_F(HostileBoardTest, AFloodInTheBodyLeavesTheHeaderZero) {
  hostile.beforeWrite = [&](std::uint32_t request, const std::vector<std::uint8_t>& report) {
    if (request == kFirstBodyWrite + 700) hostile.Flood(static_cast<std::uint8_t>(report[1] + 1), 400);
  };
  EXPECT_EQ(Press(), (Texts{job_text::kBodyWriteFailed, Result(-8)}));
  EXPECT_TRUE(HeaderZero());
  EXPECT_EQ(Replugged(), kBlankProductId);
}

// --- a board that vanishes ----------------------------------------------------------------------------

TEST_F(HostileBoardTest, VanishingMidWriteGivesTheBodyBoxesAndABlankBoot) {
  hostile.beforeWrite = [&](std::uint32_t request, const std::vector<std::uint8_t>&) {
    if (request == kFirstBodyWrite + 1000) hostile.board().Unplug();
  };
  EXPECT_EQ(Press(), (Texts{job_text::kBodyWriteFailed, Result(-8)}));
  EXPECT_TRUE(HeaderZero());
  EXPECT_EQ(Replugged(), kBlankProductId);
}

TEST_F(HostileBoardTest, VanishingDuringIdentificationEndsTheJobAtTheFirstCheck) {
  hostile.beforeWrite = [&](std::uint32_t request, const std::vector<std::uint8_t>&) {
    if (request == kPreparation + 4) hostile.board().Unplug();
  };
  EXPECT_EQ(Press(), Texts{Result(-1)});
  EXPECT_EQ(sim.board().Eeprom(), std::vector<std::uint8_t>(SimBoard::kEepromSize, SimBoard::kErasedByte));
}

class VanishMidReadTest : public HostileBoardTest, public ::testing::WithParamInterface<bool> {};

// The read is under way when the board goes: it runs into its time-out, or (as a hang-up on Linux)
// fails at once, read after read, until the read limit.
TEST_P(VanishMidReadTest, TheReadBackEndsWithItsOwnBoxFirst) {
  hostile.failReadsWhenGone = GetParam();
  hostile.beforeRead = [&](std::uint32_t read) {
    if (read == kFirstReadBack + 50) hostile.board().Unplug();
  };
  EXPECT_EQ(Press(), (Texts{job_text::kReadBackFailed, Result(-9)}));
  EXPECT_TRUE(HeaderZero());
  EXPECT_EQ(Replugged(), kBlankProductId);
}

INSTANTIATE_TEST_SUITE_P(TimedOutOrFailed, VanishMidReadTest, ::testing::Bool());

TEST_F(HostileBoardTest, VanishingAtTheHeaderLeavesTheConfirmedBodyAndANumberedBox) {
  hostile.beforeWrite = [&](std::uint32_t request, const std::vector<std::uint8_t>&) {
    if (request == kPreparation + 4120) hostile.board().Unplug();  // the header head
  };
  EXPECT_EQ(Press(), Texts{Result(-10)});
}

TEST_F(HostileBoardTest, ABoardGoneBetweenJobsIsNotFoundAndWorksAgainOncePluggedBackIn) {
  EXPECT_EQ(Press(), Texts{Result(0)});

  hostile.board().Unplug();
  DeliverDeviceChanges();
  EXPECT_EQ(Press(), Texts(std::begin(kNotFoundThenCantWrite), std::end(kNotFoundThenCantWrite)));

  hostile.board().Plug();
  DeliverDeviceChanges();
  // Programmed now: erased and re-plugged first, then written again.
  EXPECT_EQ(Press(), (Texts{prep_text::kReplug, Result(0)}));
  const std::vector<std::uint8_t> e = sim.board().Eeprom();
  EXPECT_TRUE(std::equal(e.begin(), e.begin() + kProgrammedLength, job->dialog->image.imageBuffer.begin()));
}

// --- a board that never answers -----------------------------------------------------------------------

TEST(SilentDeviceTest, EveryReadWaitsItsTimeOutOnceAndTheJobEnds) {
  VirtualClock clock;
  ScriptedBackend backend(&clock);
  backend.AddInterface(ScriptedBackend::Device("silent", kKtVendorId, kBlankProductId));
  DialogJob job(backend, clock);
  ASSERT_TRUE(job.Press(kJobBoundMs));
  EXPECT_EQ(job.LastBoxes(), Texts{Result(-1)});
  EXPECT_TRUE(job.LinkClosed());
  EXPECT_TRUE(job.WriteEnabled());
  // The write-protect read, then the eight register reads of the chip ID: one time-out each.
  const auto calls = backend.ReadCalls();
  EXPECT_EQ(calls.size(), 9u);
  for (const auto& call : calls) EXPECT_EQ(call.timeoutMs, kInputReportTimeoutMs);
  EXPECT_LE(job.elapsedMs, 9u * kInputReportTimeoutMs + kPreparationPauseMs);
}

}  // namespace
}  // namespace kt::test
