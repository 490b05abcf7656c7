#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/event.h"
#include "base/hresult.h"
#include "hid/hid_link.h"
#include "hid/report_protocol.h"
#include "image/job_image.h"
#include "programming/dialog_window.h"

namespace kt {

// The status a process ends with when Exit could not get its worker back (see Programmer::StopWorker).
inline constexpr int kWorkerStuckExitStatus = 27;
// Flushes the standard streams and ends the process with kWorkerStuckExitStatus, without destructors
// (they would wait for the worker, or free what it still uses).
[[noreturn]] void EndProcessWithStuckWorker();

// The run state that the dialog thread and the programming worker share, and the worker itself. The
// dialog class derives from it; nothing here knows about buttons other than through DialogWindow.
//
// Hand-over: the dialog thread writes the whole job, then raises writeRequested (release); the worker
// sees it (acquire) and owns the job until FinishJob re-enables "Write EEPROM". Every flag change goes
// through SetFlag, which also wakes the worker: the idle worker sleeps on a condition variable instead of
// spinning.
class Programmer {
 public:
  static constexpr std::int32_t kReadEeprom = 1;
  static constexpr std::int32_t kIdentifyOnly = 2;
  static constexpr std::int32_t kNoJobResult = 1;
  // Told the name of each step of a job as it starts, on the window's thread.
  using PhaseObserver = std::function<void(const char* phase)>;

  Programmer(HidBackend& backend, Clock& clock);
  virtual ~Programmer();
  Programmer(const Programmer&) = delete;
  Programmer& operator=(const Programmer&) = delete;

  // --- state (names as the dialog has always had them) ---
  std::uint16_t expectedFirmwareVersion = 0;
  std::uint8_t sequenceTag = 0;
  std::uint16_t targetVendorId = 0;
  std::uint16_t targetProductId = 0;
  HidLink hidLink;
  std::int32_t probeDeviceAbsent = 0;
  JobImage image;
  std::unique_ptr<Event> workerDoneEvent;  // null when it could not be created
  std::atomic<std::int32_t> workerRunning{0};
  std::atomic<std::int32_t> workerExited{0};
  std::atomic<std::int32_t> writeRequested{0};
  std::atomic<std::int32_t> readBackPending{0};
  std::atomic<std::int32_t> verifyPending{0};
  std::atomic<std::int32_t> jobFinished{0};
  // A job that only reads: kReadEeprom (chip identification, then the EEPROM into readbackBuffer, as
  // the read-back does) or kIdentifyOnly. Nothing is written to the board.
  std::atomic<std::int32_t> readRequested{0};
  // How the last job ended: 0 when it did what it was asked, its failure number (-1..-13) when not,
  // kNoJobResult before any job has ended.
  std::atomic<std::int32_t> lastJobResult{kNoJobResult};
  // Jobs whose link FinishJob has closed, counted by the worker right after the close.
  std::atomic<std::uint64_t> jobsEnded{0};
  std::uint8_t chipId = 0;
  std::uint32_t chipVersion = 0;

  // Every box that told a result so far, in the order shown (any thread).
  std::vector<ShownResult> ShownResults() const {
    std::lock_guard<std::mutex> lock(resultsMutex_);
    return shownResults_;
  }

  // --- chip identification ---
  HResult ReadChipId(std::uint8_t* destination);
  HResult ReadChipVersion(std::uint32_t* destination);

  // --- programming sequence ---
  // Reads and checks chip ID and version: 0, or the failure number of the step that failed (-1..-4).
  int IdentifyChip();
  HResult RunWritePhase();
  HResult RunReadPhase(bool identifyOnly);
  HResult RunReadBackPhase();
  HResult RunVerifyPhase();
  HResult FinishJob();
  HResult ClearHeader();
  HResult ReadHeader();
  HResult WriteBody();
  HResult ReadBackImage();
  HResult WriteHeader();
  HResult ReadHeaderTail();
  HResult ReadHeaderHead();

  // --- worker ---
  // Started once per object; a second call while the worker exists does nothing.
  void StartWorker();
  static void WorkerThreadMain(Programmer* self);
  void RunWorker();
  // The stopping half of OnExit: clears the flags, waits at most 6,000 ms for the worker while keeping
  // the window's messages flowing, then detaches the worker from the window, cancels a device write it
  // may be stuck in, and waits at most another 6,000 ms. A worker that has ended is joined; one that has
  // not ends the process (the stuck-worker handler, then EndProcessWithStuckWorker): Exit never hangs.
  // Safe to call again, and when no worker was started. A class deriving from this one calls it in its
  // own destructor (the worker calls OnJobFinished, which must not reach a half-destroyed object).
  void StopWorker();
  // Run on the window's thread just before the process ends with a stuck worker: the front-end says so
  // and closes what it can. It may end the process itself; if it returns, the process ends after it.
  void SetWorkerStuckHandler(std::function<void()> handler) { workerStuckHandler_ = std::move(handler); }
  // Stores a flag (release) and wakes the worker.
  void SetFlag(std::atomic<std::int32_t>& flag, std::int32_t value);

  void AttachWindow(DialogWindow* window) { window_ = window; }
  void SetPhaseObserver(PhaseObserver observer) { phaseObserver_ = std::move(observer); }
  DialogWindow* window() const { return window_; }
  Clock& clock() const { return clock_; }
  HidBackend& backend() const { return backend_; }

 protected:
  // Called on the worker thread in FinishJob once the link is closed, just before the button is enabled
  // (the dialog queues a deferred device probe from here).
  virtual void OnJobFinished() {}

  // The worker's window calls: carried out on the window's thread; no-ops once the worker is detached.
  void UiSetProgress(int position);
  void UiEnableWriteButton();
  void UiMessageBox(const std::string& text, const std::string& caption, MessageIcon icon);
  // Shows a box that tells a result and records it, on the window's thread as the box is shown (from any
  // thread; from the worker a no-op once it is detached, as every window call).
  void ShowResult(ShownResult result, const std::string& caption, MessageIcon icon);
  void UiPhase(const char* phase);
  // The observer, for the window thread's own steps.
  const PhaseObserver& phaseObserver() const { return phaseObserver_; }

 private:
  // ClearHeader, ReadHeader, ReadHeaderTail, ReadHeaderHead: one transfer under the stop flag.
  HResult TransferHeaderBlock(std::uint16_t address, TransferDirection direction, std::uint8_t length,
                              std::uint8_t* data);
  // Shows the numbered failure box and marks the job for clean-up.
  HResult FailJob(int number);
  bool Stopping() const { return workerRunning.load(std::memory_order_acquire) == 0; }
  bool Detached() const { return detached_.load(std::memory_order_acquire); }
  // Sleeps until a flag is set or the worker is told to stop.
  void WaitForWork();
  // Waits at most timeoutMs for the worker's loop to end, running the window's messages meanwhile when
  // there is a window. True when it has ended.
  bool WaitForWorkerExit(std::uint32_t timeoutMs);
  bool WorkerExitSeen() const;
  void SendToWindow(const std::function<void(DialogWindow&)>& call);
  // Exit's cancel of a write the worker is stuck in, and the worker's close of the link, exclude each
  // other: the handle must not go while it is being cancelled.
  void CancelLinkWrites();
  void CloseLinkOnWorker();

  HidBackend& backend_;
  Clock& clock_;
  DialogWindow* window_ = nullptr;
  PhaseObserver phaseObserver_;
  std::function<void()> workerStuckHandler_;
  std::mutex linkCloseMutex_;
  mutable std::mutex resultsMutex_;
  std::vector<ShownResult> shownResults_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::atomic<bool> detached_{false};
  std::thread worker_;
  // The worker's own: the last progress position it sent in the current job, -1 before the first.
  int lastProgressSent_ = -1;
};

}  // namespace kt
