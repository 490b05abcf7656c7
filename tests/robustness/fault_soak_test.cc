// Whole write jobs, pressed through the dialog class as an operator would, against a simulated board
// with random faults, in virtual time. Every job must leave the board in a state the operator was told
// about, and must never claim a success that did not happen.
//
// KT_SOAK_JOBS     number of jobs (default 2000)
// KT_SOAK_SEED     seed of the first job (job i runs with seed + i; default 7310)
// KT_SOAK_THREADS  jobs run side by side (default 4: a job mostly waits on its two threads handing over)
// A failing job prints its seed and option text; KT_SOAK_SEED=<seed> KT_SOAK_JOBS=1 replays it.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/chip_registers.h"
#include "hid/report_protocol.h"
#include "hid/sim/sim_board.h"
#include "hid/sim/sim_enumeration.h"
#include "hid/sim/sim_options.h"
#include "image/default_image.h"
#include "programming/job_messages.h"
#include "robustness/dialog_job.h"
#include "robustness/soak_fault_set.h"

namespace kt::test {
namespace {

using soak::kEepromSize;
using soak::kPreparationRequests;
using soak::kProgrammedLength;
using soak::kSessionRequests;

constexpr std::uint32_t kHeaderLength = 8;
constexpr std::uint32_t kBlockLength = 8;
constexpr std::uint8_t kErased = 0xFF;
constexpr std::uint32_t kBlockTransfers = 4105;

std::uint64_t EnvNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  return std::strtoull(text, nullptr, 0);
}

// The longest a job may take in virtual time. Every transfer waits for at most one time-out (a time-out
// ends its transfer), and the only transfers whose failure does not end the job are the two of the
// write-protect release and the seventeen register reads of identification; the first block transfer
// that fails ends it. On top come the pauses of a complete job and the board's latency on every request.
std::uint64_t JobBoundMs(std::uint32_t latencyMs) {
  // After each of the two erase commands and after the write-protect release.
  constexpr std::uint64_t kPreparationPausesMs = 3 * kPreparationPauseMs;
  constexpr std::uint64_t kRegisterWritePausesMs = kRegisterWritePauseMs;  // the write-protect write
  constexpr std::uint64_t kBlockPauseMs = 3;
  constexpr std::uint64_t kTimedOutTransfers = 2 + 17 + 1;
  return kPreparationPausesMs + kRegisterWritePausesMs + kTimedOutTransfers * kInputReportTimeoutMs +
         kBlockTransfers * kBlockPauseMs +
         static_cast<std::uint64_t>(kSessionRequests + kPreparationRequests) * latencyMs;
}

// 0 for "Write to EEPROM OK!", the number for a numbered failure box, nothing for any other box.
std::optional<int> ResultOf(const std::string& text) {
  if (text == job_text::kWriteOk) return 0;
  for (int n = -1; n >= -13; --n) {
    if (text == JobFailureText(n)) return n;
  }
  return std::nullopt;
}

bool AllOf(const std::vector<std::uint8_t>& bytes, std::uint32_t from, std::uint32_t to, std::uint8_t value) {
  return std::all_of(bytes.begin() + from, bytes.begin() + to,
                     [value](std::uint8_t b) { return b == value; });
}

bool Same(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, std::uint32_t from,
          std::uint32_t to) {
  return std::equal(a.begin() + from, a.begin() + to, b.begin() + from);
}

bool FaultFree(const SimOptions& o) {
  return o.silent.empty() && o.stray.empty() && o.shortAnswer.empty() && o.badLength.empty() &&
         o.flip.empty() && o.lie.empty() && o.unplug.empty() && o.chipId == kExpectedChipId &&
         o.chipVersion == kChipVersion && !o.wpStuck;
}

struct SoakFailure {
  std::uint64_t seed = 0;
  std::string options;
  std::vector<std::string> problems;
};

std::string Describe(const SoakFailure& f) {
  std::string text =
      "KT_SOAK_SEED=" + std::to_string(f.seed) + " KT_SOAK_JOBS=1 (options \"" + f.options + "\")";
  for (const std::string& p : f.problems) text += "\n  " + p;
  return text;
}

// What one job left behind.
struct JobRecord {
  SimOptions options;
  std::vector<RecordingWindow::Box> boxes;
  bool ended = false;
  std::uint64_t elapsedMs = 0;
  bool linkClosed = false;
  bool writeEnabled = false;
  std::vector<std::uint8_t> image;   // the job's image, kProgrammedLength bytes
  std::vector<std::uint8_t> eeprom;  // the board's EEPROM afterwards
  std::vector<std::vector<std::uint8_t>> requests;
  std::uint16_t bootProductId = 0;  // what the board enumerates as when plugged in again
};

JobRecord RunJob(const SimOptions& options, const std::string& replay) {
  JobRecord record;
  record.options = options;
  VirtualClock clock;
  SimBackend sim(options, clock);
  {
    DialogJob job(sim, clock);
    // Twice the bound: a job that overruns it is reported with its real length, one that hangs still ends.
    record.ended = job.Press(2 * JobBoundMs(options.latencyMs));
    record.elapsedMs = job.elapsedMs;
    record.linkClosed = job.LinkClosed();
    record.writeEnabled = job.WriteEnabled();
    const auto& buffer = job.dialog->image.imageBuffer;
    record.image.assign(buffer.begin(), buffer.begin() + kProgrammedLength);
    // Said now, in case stopping a worker that is stuck hangs the run.
    if (!record.ended) std::fprintf(stderr, "job did not end: %s\n", replay.c_str());
    job.Exit();
    record.boxes = job.window.boxes;
  }
  record.eeprom = sim.board().Eeprom();
  record.requests = sim.board().requests();
  sim.board().Unplug();
  sim.board().Plug();
  record.bootProductId = sim.board().productId();
  return record;
}

// The address of the last body block a write was sent for (the one a -8 failed on), if any.
std::optional<std::uint32_t> LastBodyWrite(const std::vector<std::vector<std::uint8_t>>& requests) {
  std::optional<std::uint32_t> last;
  for (const auto& r : requests) {
    if (r.size() < 8 || r[2] != 0x11 || r[7] != kBlockLength) continue;
    const std::uint32_t address = static_cast<std::uint32_t>(r[5] << 8 | r[6]);
    if (address >= kHeaderLength) last = address;
  }
  return last;
}

bool LieIn(const SimOptions& options, std::uint32_t from, std::uint32_t to) {
  return std::any_of(options.lie.begin(), options.lie.end(),
                     [&](std::uint16_t a) { return a >= from && a < to; });
}

// The board after the job against what the operator was told.
void CheckBoard(const JobRecord& job, int result, std::vector<std::string>& problems) {
  const auto& e = job.eeprom;
  const auto& image = job.image;
  auto fail = [&](const std::string& what) {
    problems.push_back("result " + std::to_string(result) + ": " + what);
  };

  if (!AllOf(e, kProgrammedLength, kEepromSize, kErased)) fail("EEPROM beyond the image was written");
  const bool headerZero = AllOf(e, 0, kHeaderLength, 0);
  const bool headerErased = AllOf(e, 0, kHeaderLength, kErased);

  if (result == 0) {
    if (!Same(e, image, 0, kProgrammedLength)) {
      fail("\"Write to EEPROM OK!\" but the EEPROM differs from the image");
    }
    if (job.bootProductId == kBlankProductId) fail("programmed board boots blank");
    return;
  }
  // Every failure before the header write leaves a board that cannot boot the half-written body.
  if (result >= -9 || result == -12) {
    if (job.bootProductId != kBlankProductId) fail("board does not boot blank after the failure");
  }
  if (result >= -4) {
    if (!AllOf(e, 0, kEepromSize, kErased)) fail("EEPROM changed before the header was cleared");
  } else if (result >= -7) {
    if (!headerZero && !headerErased) fail("header neither cleared nor as it was");
    if (!AllOf(e, kHeaderLength, kEepromSize, kErased)) fail("body written although the header clear failed");
  } else if (result == -8 || result == -9 || result == -12) {
    if (!headerZero) fail("header not zero although the body was not verified");
    // 0 when no body write went out: then there is nothing below it to check.
    const std::uint32_t failedBlock = result == -8 ? LastBodyWrite(job.requests).value_or(0) : 0;
    for (std::uint32_t a = kHeaderLength; a < kProgrammedLength; a += kBlockLength) {
      const bool asImage = Same(e, image, a, a + kBlockLength);
      const bool erased = AllOf(e, a, a + kBlockLength, kErased);
      if (!asImage && !erased)
        fail("body block " + std::to_string(a) + " holds neither the image nor erased bytes");
      if (a < failedBlock && !erased) {
        fail("body block " + std::to_string(a) + " below the failed block " + std::to_string(failedBlock) +
             " was written");
      }
      if (result != -8 && !asImage && !LieIn(job.options, a, a + kBlockLength)) {
        fail("body block " + std::to_string(a) + " missing although every write was acknowledged");
      }
    }
  } else {
    // -10, -11, -13: the body was confirmed; each header piece is either still clear or written.
    if (!Same(e, image, kHeaderLength, kProgrammedLength)) fail("confirmed body differs from the image");
    const bool tailOk = Same(e, image, 5, 8) || AllOf(e, 5, 8, 0);
    const bool headOk = Same(e, image, 0, 5) || AllOf(e, 0, 5, 0);
    if (!tailOk || !headOk) fail("header piece holds neither the image nor zeros");
  }
}

// Everything checked of one job; empty when it kept every promise.
std::vector<std::string> CheckJob(const JobRecord& job) {
  std::vector<std::string> problems;
  if (!job.ended) {
    problems.push_back("\"Write EEPROM\" never came back");
    return problems;
  }
  const std::uint64_t bound = JobBoundMs(job.options.latencyMs);
  if (job.elapsedMs > bound) {
    problems.push_back("job took " + std::to_string(job.elapsedMs) + " ms of virtual time, bound " +
                       std::to_string(bound) + " ms");
  }
  if (!job.linkClosed) problems.push_back("link still open after the job");
  if (!job.writeEnabled) problems.push_back("\"Write EEPROM\" disabled after the job");

  std::vector<int> results;
  std::size_t resultAt = 0;
  for (std::size_t i = 0; i < job.boxes.size(); ++i) {
    if (const std::optional<int> r = ResultOf(job.boxes[i].text)) {
      results.push_back(*r);
      resultAt = i;
    }
  }
  const bool programmed = job.options.start == SimOptions::StartState::kProgrammed;
  const std::set<std::string> preparationBoxes = {prep_text::kNotFoundAbsent, prep_text::kNotFoundPresent,
                                                  prep_text::kEraseNotOpened, prep_text::kEraseNotSent};
  if (results.empty()) {
    // Only a board that vanished before the job could be handed over gets no result.
    const bool earlyUnplug = std::any_of(job.options.unplug.begin(), job.options.unplug.end(),
                                         [](std::uint32_t n) { return n <= kPreparationRequests; });
    const bool told = std::any_of(job.boxes.begin(), job.boxes.end(), [&](const RecordingWindow::Box& b) {
      return preparationBoxes.count(b.text) != 0;
    });
    if (!earlyUnplug || !told) problems.push_back("no result box and no reason the job was not started");
    return problems;
  }
  if (results.size() != 1) {
    problems.push_back(std::to_string(results.size()) + " result boxes");
    return problems;
  }
  const int result = results.front();
  if (resultAt + 1 != job.boxes.size()) problems.push_back("a box after the result box");

  // Before the result: the re-plug request of the erase (programmed start only) and the one block-level
  // box that belongs to -8 or -9, right before it.
  std::vector<std::string> expected;
  if (programmed) expected.push_back(prep_text::kReplug);
  if (result == -8) expected.push_back(job_text::kBodyWriteFailed);
  if (result == -9) expected.push_back(job_text::kReadBackFailed);
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < resultAt; ++i) seen.push_back(job.boxes[i].text);
  if (seen != expected) {
    std::string text;
    for (const std::string& s : seen) text += "[" + s + "] ";
    problems.push_back("boxes before result " + std::to_string(result) + ": " + text);
  }
  for (const RecordingWindow::Box& box : job.boxes) {
    if (box.text == job_text::kBodyWriteFailed &&
        (box.caption != job_text::kBodyWriteCaption || box.icon != MessageIcon::kError)) {
      problems.push_back("body write box without its caption or stop icon");
    }
    if (box.text == job_text::kReadBackFailed &&
        (box.caption != job_text::kReadBackCaption || box.icon != MessageIcon::kError)) {
      problems.push_back("read-back box without its caption or stop icon");
    }
  }

  // Where the outcome is certain from the options alone.
  const SimOptions& o = job.options;
  SimOptions only = o;
  only.chipId = kExpectedChipId;
  only.chipVersion = kChipVersion;
  only.wpStuck = false;
  if (FaultFree(o) && result != 0)
    problems.push_back("fault-free board failed with " + std::to_string(result));
  if (FaultFree(only) && o.chipId != kExpectedChipId && result != -2) {
    problems.push_back("wrong chip ID gave " + std::to_string(result));
  }
  if (FaultFree(only) && o.chipId == kExpectedChipId && (o.chipVersion & 0xFFF0) != 0x7380 && result != -4) {
    problems.push_back("wrong chip version gave " + std::to_string(result));
  }
  if (FaultFree(only) && o.chipId == kExpectedChipId && (o.chipVersion & 0xFFF0) == 0x7380 && o.wpStuck &&
      result != -7) {
    problems.push_back("stuck write protect gave " + std::to_string(result));
  }

  CheckBoard(job, result, problems);
  return problems;
}

// The checks themselves: a record of a job that broke one promise must not pass.
class SoakCheckTest : public ::testing::Test {
 protected:
  // A blank board written without a fault: the image in place, one box, the button back.
  static JobRecord Good() {
    JobRecord job;
    job.options.start = SimOptions::StartState::kBlank;
    job.ended = true;
    job.linkClosed = true;
    job.writeEnabled = true;
    job.elapsedMs = 20000;
    job.image.assign(defaultImage.begin(), defaultImage.begin() + kProgrammedLength);
    job.eeprom = job.image;
    job.eeprom.resize(kEepromSize, kErased);
    job.boxes = {{job_text::kWriteOk, "", MessageIcon::kNone}};
    job.bootProductId = EnumeratedProductId(job.eeprom);
    return job;
  }
  // The same board after a body mismatch, with the faulty block left erased.
  static JobRecord Mismatch() {
    JobRecord job = Good();
    job.options.lie = {0x1000};
    std::fill(job.eeprom.begin(), job.eeprom.begin() + kHeaderLength, 0);
    std::fill(job.eeprom.begin() + 0x1000, job.eeprom.begin() + 0x1008, kErased);
    job.boxes = {{JobFailureText(-12), "", MessageIcon::kNone}};
    job.bootProductId = EnumeratedProductId(job.eeprom);
    return job;
  }
};

TEST_F(SoakCheckTest, HonestJobsPass) {
  EXPECT_EQ(CheckJob(Good()), std::vector<std::string>{});
  EXPECT_EQ(CheckJob(Mismatch()), std::vector<std::string>{});
}

TEST_F(SoakCheckTest, EachBrokenPromiseIsCaught) {
  std::vector<std::pair<const char*, JobRecord>> broken;
  auto add = [&](const char* what, JobRecord job) { broken.emplace_back(what, std::move(job)); };
  JobRecord j = Good();
  j.eeprom[9000] ^= 1;
  add("success with a wrong byte", j);
  j = Mismatch();
  std::copy_n(j.image.begin(), kHeaderLength, j.eeprom.begin());
  j.bootProductId = EnumeratedProductId(j.eeprom);
  add("header written over an unverified body", j);
  j = Mismatch();
  j.bootProductId = 0x7310;
  add("boots as programmed after a failure", j);
  j = Good();
  j.boxes.push_back(j.boxes.front());
  add("two result boxes", j);
  j = Good();
  j.boxes.clear();
  add("no box at all", j);
  j = Mismatch();
  j.boxes.front().text = JobFailureText(-8);
  add("-8 without its body box", j);
  j = Good();
  j.boxes.insert(j.boxes.begin(),
                 {job_text::kReadBackFailed, job_text::kReadBackCaption, MessageIcon::kError});
  add("a block box before success", j);
  j = Good();
  j.linkClosed = false;
  add("link left open", j);
  j = Good();
  j.writeEnabled = false;
  add("button left disabled", j);
  j = Good();
  j.elapsedMs = JobBoundMs(0) + 1;
  add("over the time bound", j);
  j = Good();
  j.eeprom[kProgrammedLength] = 0;
  add("written past the image", j);
  j = Good();
  j.options.chipId = 3;
  add("a wrong chip ID that passed", j);
  for (const auto& [what, job] : broken) EXPECT_NE(CheckJob(job), std::vector<std::string>{}) << what;
}

TEST(FaultSoakTest, EveryJobTellsTheTruthAndLeavesTheBoardSafe) {
  const std::uint64_t jobs = EnvNumber("KT_SOAK_JOBS", 2000);
  const std::uint64_t firstSeed = EnvNumber("KT_SOAK_SEED", 7310);
  const std::uint64_t threads = std::max<std::uint64_t>(1, EnvNumber("KT_SOAK_THREADS", 4));

  std::atomic<std::uint64_t> next{0};
  std::mutex mutex;
  std::vector<SoakFailure> failures;
  std::vector<int> resultsSeen(15, 0);
  auto run = [&] {
    for (std::uint64_t i = next++; i < jobs; i = next++) {
      const std::uint64_t seed = firstSeed + i;
      const std::string text = soak::DrawOptions(static_cast<std::uint32_t>(seed));
      SimOptions options;
      std::string error;
      SoakFailure failure{seed, text, {}};
      if (!ParseSimOptions(text, options, error)) {
        failure.problems.push_back("options do not parse: " + error);
      } else {
        const JobRecord job = RunJob(options, Describe(failure));
        failure.problems = CheckJob(job);
        std::lock_guard<std::mutex> lock(mutex);
        for (const RecordingWindow::Box& box : job.boxes) {
          if (const std::optional<int> r = ResultOf(box.text)) ++resultsSeen[static_cast<std::size_t>(-*r)];
        }
      }
      if (!failure.problems.empty()) {
        std::lock_guard<std::mutex> lock(mutex);
        failures.push_back(std::move(failure));
      }
    }
  };
  std::vector<std::thread> pool;
  for (std::uint64_t t = 1; t < threads; ++t) pool.emplace_back(run);
  run();
  for (std::thread& t : pool) t.join();

  std::sort(failures.begin(), failures.end(), [](const auto& a, const auto& b) { return a.seed < b.seed; });
  for (std::size_t i = 0; i < failures.size() && i < 20; ++i) ADD_FAILURE() << Describe(failures[i]);
  EXPECT_TRUE(failures.empty()) << failures.size() << " of " << jobs << " jobs broke a promise";

  std::string spread;
  for (std::size_t n = 0; n < resultsSeen.size(); ++n) {
    if (resultsSeen[n] != 0)
      spread +=
          " " + (n == 0 ? std::string("ok") : "-" + std::to_string(n)) + ":" + std::to_string(resultsSeen[n]);
  }
  std::printf("%llu jobs from seed %llu; results%s\n", static_cast<unsigned long long>(jobs),
              static_cast<unsigned long long>(firstSeed), spread.c_str());
}

// The generator reaches every fault the board offers, both start states and every fault count, and
// only writes option text the board accepts.
TEST(FaultSoakGeneratorTest, DrawsEveryFaultKindAsOptionsTheBoardAccepts) {
  std::set<std::string> kinds;
  std::set<std::size_t> faultCounts;
  int blank = 0;
  int withLatency = 0;
  for (std::uint32_t seed = 7310; seed < 7310 + 2000; ++seed) {
    const std::string text = soak::DrawOptions(seed);
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseSimOptions(text, options, error)) << text << ": " << error;
    ASSERT_EQ(soak::DrawOptions(seed), text) << "not reproducible from its seed";
    std::size_t faults = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
      const std::size_t comma = std::min(text.find(',', pos), text.size());
      const std::string item = text.substr(pos, comma - pos);
      const std::string name = item.substr(0, item.find_first_of("@="));
      if (name != "blank" && name != "programmed" && name != "latency") {
        kinds.insert(name);
        ++faults;
      }
      pos = comma + 1;
    }
    faultCounts.insert(faults);
    blank += options.start == SimOptions::StartState::kBlank;
    withLatency += options.latencyMs != 0;
    EXPECT_LE(options.latencyMs, 3u);
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"silent", "stray", "short", "badlen", "flip", "lie", "unplug",
                                          "chip-id", "chip-version", "wp-stuck"}));
  EXPECT_EQ(faultCounts, (std::set<std::size_t>{0, 1, 2, 3}));
  EXPECT_GT(blank, 800);
  EXPECT_LT(blank, 1200);
  EXPECT_GT(withLatency, 100);
}

}  // namespace
}  // namespace kt::test
