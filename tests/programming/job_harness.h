#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/headless/headless_window.h"
#include "base/clock.h"
#include "base/event.h"
#include "hid/chip_registers.h"
#include "hid/report_protocol.h"
#include "hid/sim/sim_board.h"
#include "hid/sim/sim_options.h"
#include "image/job_image.h"
#include "programming/job_messages.h"
#include "programming/programmer.h"
#include "programming/tap_backend.h"

namespace kt::test {

// Requests of a whole job on a 16,400-byte image, counted from 1 at its first identification read.
namespace job_request {
inline constexpr std::uint32_t kChipIdRead = 8;
inline constexpr std::uint32_t kVersionHighRead = 16;
inline constexpr std::uint32_t kVersionLowRead = 17;
inline constexpr std::uint32_t kHeaderClear = 18;
inline constexpr std::uint32_t kHeaderRead = 19;
inline constexpr std::uint32_t kFirstBodyWrite = 20;
inline constexpr std::uint32_t kFirstReadBack = 2069;
inline constexpr std::uint32_t kTailWrite = 4118;
inline constexpr std::uint32_t kTailRead = 4119;
inline constexpr std::uint32_t kHeadWrite = 4120;
inline constexpr std::uint32_t kHeadRead = 4121;
inline constexpr std::uint32_t kFinalHeaderRead = 4122;
inline constexpr std::uint32_t kCount = 4122;
}  // namespace job_request

// The write-protect read and write that come before every job on a freshly plugged board.
inline constexpr std::uint32_t kPreparationRequests = 2;

// A board fault option aimed at request `jobRequest` of the job.
inline std::string AtJobRequest(const std::string& fault, std::uint32_t jobRequest) {
  return fault + "@" + std::to_string(jobRequest + kPreparationRequests);
}

// One request report, as the board saw it.
struct Request {
  char kind = '?';  // 'W' block write, 'R' block read, 'w' register write, 'r' register read
  std::uint16_t address = 0;
  std::uint8_t length = 0;  // blocks only
  std::uint8_t tag = 0;

  bool operator==(const Request&) const = default;
};

inline Request Decode(const std::vector<std::uint8_t>& report) {
  Request request;
  if (report.size() < 8) return request;
  request.tag = report[1];
  switch (report[2]) {
    case 0x11:
    case 0x12:
      request.kind = report[2] == 0x11 ? 'W' : 'R';
      request.address = static_cast<std::uint16_t>(report[5] << 8 | report[6]);
      request.length = report[7];
      break;
    case 0x21:
    case 0x22:
      request.kind = report[2] == 0x21 ? 'w' : 'r';
      request.address = static_cast<std::uint16_t>(report[3] << 8 | report[4]);
      break;
    default:
      break;
  }
  return request;
}

inline std::vector<Request> Decode(const std::vector<std::vector<std::uint8_t>>& reports) {
  std::vector<Request> requests;
  for (const auto& report : reports) requests.push_back(Decode(report));
  return requests;
}

// Stops its worker before it goes, as the dialog class does.
class TestProgrammer final : public Programmer {
 public:
  using Programmer::Programmer;
  ~TestProgrammer() override { StopWorker(); }
  int jobsFinished = 0;  // worker thread; read after the worker has stopped

 protected:
  void OnJobFinished() override { ++jobsFinished; }
};

// A simulated board in virtual time, a headless window and a programmer attached to both, with the
// job prepared as the Write handler does it.
class JobHarness {
 public:
  explicit JobHarness(const std::string& simOptions = "", std::uint32_t realWaitBoundMs = 20000)
      : clock(realWaitBoundMs),
        sim(ParseOptions(simOptions), clock),
        tap(sim),
        programmer(std::make_unique<TestProgrammer>(tap, clock)) {
    programmer->AttachWindow(&window);
    programmer->sequenceTag = 240;  // as the dialog's initialisation leaves it
  }

  SimBoard& board() { return sim.board(); }
  TestProgrammer& p() { return *programmer; }

  // What the Write handler does before it hands the job over: image, link, write protect, read-back
  // buffer. Returns false when the board could not be opened.
  bool Prepare() {
    LoadJobImage(p().image, false);
    if (!OpenHidLink(p().hidLink, kKtVendorId, board().productId())) return false;
    p().hidLink.deviceOpen = true;
    std::uint8_t value = 0;
    p().sequenceTag = AdvanceRegisterTag(p().sequenceTag);
    if (!TransferRegister(p().hidLink, &value, TransferDirection::kRead, kWriteProtectRegister,
                          p().sequenceTag)) {
      return false;
    }
    value = static_cast<std::uint8_t>(value & ~1u);
    p().sequenceTag = AdvanceRegisterTag(p().sequenceTag);
    if (!TransferRegister(p().hidLink, &value, TransferDirection::kWrite, kWriteProtectRegister,
                          p().sequenceTag)) {
      return false;
    }
    p().image.readbackBuffer.fill(0);
    board().ClearRequests();
    tap.ResetCount();
    return true;
  }

  void StartWorker() { p().StartWorker(); }
  void RequestJob() { p().SetFlag(p().writeRequested, 1); }
  // FinishJob's enabling of "Write EEPROM" is the last window call of a job.
  bool WaitForJobEnd(std::size_t jobs = 1) { return window.WaitForCall("enable|1002|1", jobs); }
  // Prepares, runs one job to its end and stops the worker, so everything can be read afterwards.
  bool RunJob() {
    if (!Prepare()) return false;
    StartWorker();
    RequestJob();
    const bool ended = WaitForJobEnd();
    Exit();
    return ended;
  }
  // The stopping half of the Exit button, on the window's thread.
  void Exit() {
    window.Run([this] { p().StopWorker(); });
  }
  // Presses Exit as the operator would: queued for the window thread. exitDone is set once it has
  // returned there.
  void PostExit() {
    window.PostToWindowThread([this] {
      p().StopWorker();
      exitDone.Set();
    });
  }
  bool WaitForExitDone() { return exitDone.Wait(testWaits, 60000); }
  // Presses Exit just before job request `jobRequest` goes out, and lets it go out once the stop is
  // under way.
  void ExitBefore(std::uint32_t jobRequest) {
    tap.At(jobRequest, [this] {
      PostExit();
      window.WaitForCall("pump|6000");
    });
  }

  std::vector<std::string> Progress() const {
    std::vector<std::string> positions;
    for (const std::string& call : window.Calls()) {
      if (call.rfind("progress|", 0) == 0) positions.push_back(call.substr(9));
    }
    return positions;
  }

  VirtualClock clock;
  SimBackend sim;
  TapBackend tap;
  // Set on the window thread, so it must outlive that thread (Event::Set notifies after unlocking).
  Event exitDone;
  // For the test thread's own waits: a safety bound only, independent of the job clock's.
  VirtualClock testWaits{60000};
  HeadlessWindow window;
  std::unique_ptr<TestProgrammer> programmer;

 private:
  static SimOptions ParseOptions(const std::string& text) {
    SimOptions options;
    std::string error;
    ParseSimOptions(text, options, error);
    return options;
  }
};

inline std::string ResultBox(int number) {
  return HeadlessWindow::BoxEntry(JobFailureText(number), "", MessageIcon::kNone);
}
inline std::string OkBox() {
  return HeadlessWindow::BoxEntry(job_text::kWriteOk, "", MessageIcon::kNone);
}
inline std::string BodyWriteFailedBox() {
  return HeadlessWindow::BoxEntry(job_text::kBodyWriteFailed, job_text::kBodyWriteCaption,
                                  MessageIcon::kError);
}
inline std::string ReadBackFailedBox() {
  return HeadlessWindow::BoxEntry(job_text::kReadBackFailed, job_text::kReadBackCaption, MessageIcon::kError);
}

}  // namespace kt::test
