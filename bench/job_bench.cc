// A whole job against the simulated board in real time, against the floor of the pauses it must make,
// and the process's CPU time during a job and while the worker sits idle. Usage: job_bench [IDLE_SECONDS]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/headless/headless_window.h"
#include "app/write_eeprom_dialog.h"
#include "base/clock.h"
#include "hid/chip_registers.h"
#include "hid/report_protocol.h"
#include "hid/sim/sim_board.h"
#include "hid/sim/sim_options.h"
#include "image/job_image.h"
#include "programming/job_messages.h"
#include "programming/programmer.h"

namespace {

using kt::RealClock;

constexpr int kBlockTransfers = 4105;
// Answers the board gives in a job: write-protect read and write, identification, block transfers.
constexpr int kAnswers = 2 + 17 + kBlockTransfers;
constexpr std::uint32_t kTransferPauseMs = 3;

double CpuMillis() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// What the job cannot go below: its pauses (and the board's answer latency), slept on the same clock.
double FloorMillis(RealClock& clock, std::uint32_t latencyMs) {
  const double start = clock.NowMillis();
  for (int i = 0; i < kBlockTransfers; ++i) clock.Sleep(kTransferPauseMs);
  clock.Sleep(kt::kRegisterWritePauseMs);
  for (int i = 0; latencyMs > 0 && i < kAnswers; ++i) clock.Sleep(latencyMs);
  return clock.NowMillis() - start;
}

class Programmer final : public kt::Programmer {
 public:
  using kt::Programmer::Programmer;
  ~Programmer() override { StopWorker(); }
};

struct JobResult {
  bool ok = false;
  double millis = 0;
  double cpuMillis = 0;
};

// The Write handler's part (image, link, write-protect release), then the worker's job to its end.
JobResult RunJob(RealClock& clock, std::uint32_t latencyMs) {
  kt::SimOptions options;
  options.latencyMs = latencyMs;
  kt::SimBackend sim(options, clock);
  kt::HeadlessWindow window;
  Programmer programmer(sim, clock);
  programmer.AttachWindow(&window);
  programmer.sequenceTag = 240;
  programmer.StartWorker();

  JobResult result;
  const double cpuStart = CpuMillis();
  const double start = clock.NowMillis();
  kt::LoadJobImage(programmer.image, false);
  if (!kt::OpenHidLink(programmer.hidLink, kt::kKtVendorId, sim.board().productId())) return result;
  programmer.hidLink.deviceOpen = true;
  std::uint8_t wp = 0;
  programmer.sequenceTag = kt::AdvanceRegisterTag(programmer.sequenceTag);
  kt::TransferRegister(programmer.hidLink, &wp, kt::TransferDirection::kRead, kt::kWriteProtectRegister,
                       programmer.sequenceTag);
  wp = static_cast<std::uint8_t>(wp & ~1u);
  programmer.sequenceTag = kt::AdvanceRegisterTag(programmer.sequenceTag);
  kt::TransferRegister(programmer.hidLink, &wp, kt::TransferDirection::kWrite, kt::kWriteProtectRegister,
                       programmer.sequenceTag);
  programmer.image.readbackBuffer.fill(0);
  programmer.SetFlag(programmer.writeRequested, 1);
  // A job under a loaded machine can take minutes; the bound only keeps a broken one from hanging.
  const bool ended = window.WaitForCall("enable|1002|1", 1, std::chrono::minutes(10));
  result.millis = clock.NowMillis() - start;
  result.cpuMillis = CpuMillis() - cpuStart;
  const auto boxes = window.Boxes();
  result.ok = ended && boxes.size() == 1 &&
              boxes[0] == kt::HeadlessWindow::BoxEntry(kt::job_text::kWriteOk, "", kt::MessageIcon::kNone);
  window.Run([&] { programmer.StopWorker(); });
  return result;
}

double IdleCpuMillis(RealClock& clock, std::uint32_t seconds) {
  kt::SimBackend sim(kt::SimOptions{}, clock);
  kt::HeadlessWindow window;
  Programmer programmer(sim, clock);
  programmer.AttachWindow(&window);
  programmer.StartWorker();
  const double cpuStart = CpuMillis();
  clock.Sleep(seconds * 1000);
  const double cpu = CpuMillis() - cpuStart;
  window.Run([&] { programmer.StopWorker(); });
  return cpu;
}

bool Report(RealClock& clock, const char* name, std::uint32_t latencyMs) {
  const double floor = FloorMillis(clock, latencyMs);
  const JobResult job = RunJob(clock, latencyMs);
  std::printf("%s_floor_ms %.1f\n", name, floor);
  std::printf("%s_ms %.1f\n", name, job.millis);
  std::printf("%s_ratio %.4f\n", name, job.millis / floor);
  std::printf("%s_cpu_ms %.1f\n", name, job.cpuMillis);
  if (!job.ok) std::printf("%s FAILED: the job did not end with \"Write to EEPROM OK!\"\n", name);
  std::fflush(stdout);
  return job.ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint32_t idleSeconds =
      argc > 1 ? static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)) : 10;
  // The floor of `kt7310-eeprom write --simulate=blank --yes` as a whole, from the code's own pauses: a
  // blank board needs no erase, so the write-protect release (its register write and the settling pause
  // after it) and the job's block transfers. report.sh holds the process's wall time against it.
  std::printf("cli_blank_floor_ms %u\n", static_cast<std::uint32_t>(kBlockTransfers) * kTransferPauseMs +
                                             kt::kRegisterWritePauseMs + kt::kPreparationPauseMs);
  RealClock clock;
  bool ok = Report(clock, "job_latency0", 0);
  ok = Report(clock, "job_latency1", 1) && ok;
  std::printf("idle_seconds %u\n", idleSeconds);
  std::printf("idle_cpu_ms %.1f\n", IdleCpuMillis(clock, idleSeconds));
  return ok ? 0 : 1;
}
