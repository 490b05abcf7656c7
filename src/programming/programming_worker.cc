#include <cstdio>
#include <cstdlib>
#include <new>
#include <system_error>

#include "programming/programmer.h"

namespace kt {

namespace {

// How long Exit waits for the worker before the worker's window calls are cut off.
constexpr std::uint32_t kStopWaitMs = 6000;

}  // namespace

Programmer::Programmer(HidBackend& backend, Clock& clock) : backend_(backend), clock_(clock) {
  CreateHidLink(hidLink, backend, clock);
}

Programmer::~Programmer() {
  // Normally stopped already (Exit, or the deriving class's destructor); this is the last line that
  // keeps the worker from outliving the object.
  StopWorker();
}

void Programmer::SetFlag(std::atomic<std::int32_t>& flag, std::int32_t value) {
  {
    // Stored under the lock the idle worker sleeps on, so its test and its sleep cannot miss the change.
    std::lock_guard<std::mutex> lock(wakeMutex_);
    flag.store(value, std::memory_order_release);
  }
  wake_.notify_all();
}

void Programmer::StartWorker() {
  if (worker_.joinable()) return;
  SetFlag(writeRequested, 0);
  SetFlag(readBackPending, 0);
  SetFlag(verifyPending, 0);
  SetFlag(jobFinished, 0);
  SetFlag(readRequested, 0);
  // Without the event, Exit falls back to watching workerExited.
  workerDoneEvent.reset(new (std::nothrow) Event(false));
  SetFlag(workerRunning, 1);
  SetFlag(workerExited, 0);
  detached_.store(false, std::memory_order_release);
  try {
    worker_ = std::thread(&Programmer::WorkerThreadMain, this);
  } catch (const std::system_error&) {
    // As before: a worker that could not start is not reported; no job will run and Exit waits its
    // full bound.
  }
}

void Programmer::WorkerThreadMain(Programmer* self) {
  if (self == nullptr) return;
  self->RunWorker();
  self->SetFlag(self->workerExited, 1);
  if (self->workerDoneEvent) self->workerDoneEvent->Set();
  // Wakes a window thread that pumps messages while it waits for us.
  if (DialogWindow* window = self->window()) window->PostToWindowThread([] {});
}

void Programmer::RunWorker() {
  while (!Stopping()) {
    bool worked = false;
    bool readBackDue = false;
    bool verifyDue = false;
    if (const std::int32_t read = readRequested.load(std::memory_order_acquire); read != 0) {
      SetFlag(readRequested, 0);
      RunReadPhase(read == kIdentifyOnly);
      FinishJob();
      continue;
    }
    if (writeRequested.load(std::memory_order_acquire) != 0) {
      SetFlag(writeRequested, 0);
      worked = true;
      readBackDue = RunWritePhase() == kSOk;
    }
    if (readBackDue || readBackPending.load(std::memory_order_acquire) != 0) {
      SetFlag(readBackPending, 0);
      worked = true;
      verifyDue = RunReadBackPhase() == kSOk;
    }
    if (verifyDue || verifyPending.load(std::memory_order_acquire) != 0) {
      SetFlag(verifyPending, 0);
      RunVerifyPhase();
      FinishJob();
      worked = true;
    } else if (jobFinished.load(std::memory_order_acquire) != 0) {
      FinishJob();
      worked = true;
    }
    if (!worked) WaitForWork();
  }
}

void Programmer::WaitForWork() {
  std::unique_lock<std::mutex> lock(wakeMutex_);
  wake_.wait(lock, [this] {
    return Stopping() || writeRequested.load(std::memory_order_acquire) != 0 ||
           readBackPending.load(std::memory_order_acquire) != 0 ||
           verifyPending.load(std::memory_order_acquire) != 0 ||
           jobFinished.load(std::memory_order_acquire) != 0 ||
           readRequested.load(std::memory_order_acquire) != 0;
  });
}

void Programmer::StopWorker() {
  if (!Stopping()) {
    SetFlag(workerRunning, 0);
    SetFlag(writeRequested, 0);
    SetFlag(readBackPending, 0);
    SetFlag(verifyPending, 0);
    SetFlag(jobFinished, 0);
    SetFlag(readRequested, 0);
    WaitForWorkerExit(kStopWaitMs);
  }
  if (!worker_.joinable()) return;
  // Past the bound nobody may wait on the worker's window calls any more. What keeps it now is a device
  // call: a read ends by its own time-out, a write to a board that stopped taking reports may not, so
  // that one is cancelled. Messages keep flowing meanwhile, for a call it had already sent.
  detached_.store(true, std::memory_order_release);
  CancelLinkWrites();
  if (WaitForWorkerExit(kStopWaitMs)) {
    worker_.join();
    return;
  }
  // Still inside a call the system would not cancel. The worker uses this object, so the object cannot
  // go while the worker lives: the process ends instead of hanging on it.
  worker_.detach();
  if (workerStuckHandler_) workerStuckHandler_();
  EndProcessWithStuckWorker();
}

void Programmer::CancelLinkWrites() {
  std::lock_guard<std::mutex> lock(linkCloseMutex_);
  if (hidLink.writeHandle) hidLink.writeHandle->CancelWrite();
}

void Programmer::CloseLinkOnWorker() {
  std::lock_guard<std::mutex> lock(linkCloseMutex_);
  CloseHidLink(hidLink);
}

void EndProcessWithStuckWorker() {
  std::fflush(nullptr);
  std::_Exit(kWorkerStuckExitStatus);
}

bool Programmer::WorkerExitSeen() const {
  return workerDoneEvent ? workerDoneEvent->IsSet() : workerExited.load(std::memory_order_acquire) != 0;
}

bool Programmer::WaitForWorkerExit(std::uint32_t timeoutMs) {
  if (!worker_.joinable()) {
    // Nothing will ever signal: the bound is all there is.
    std::unique_lock<std::mutex> lock(wakeMutex_);
    return clock_.WaitFor(lock, wake_, timeoutMs, [] { return false; });
  }
  if (window_ != nullptr) {
    return window_->PumpMessagesUntil(clock_, timeoutMs, [this] { return WorkerExitSeen(); });
  }
  if (workerDoneEvent) return workerDoneEvent->Wait(clock_, timeoutMs);
  std::unique_lock<std::mutex> lock(wakeMutex_);
  return clock_.WaitFor(lock, wake_, timeoutMs,
                        [this] { return workerExited.load(std::memory_order_acquire) != 0; });
}

void Programmer::SendToWindow(const std::function<void(DialogWindow&)>& call) {
  DialogWindow* window = window_;
  if (window == nullptr || Detached()) return;
  window->SendToWindowThread([window, &call] { call(*window); });
}

void Programmer::UiSetProgress(int position) {
  // Most blocks leave the bar where it was; each call is a synchronous round trip to the window thread,
  // so only a new position is worth one.
  if (position == lastProgressSent_) return;
  lastProgressSent_ = position;
  SendToWindow([position](DialogWindow& window) { window.SetProgressPos(ctl::kProgress, position); });
}

void Programmer::UiEnableWriteButton() {
  SendToWindow([](DialogWindow& window) { window.EnableItem(ctl::kWriteEeprom, true); });
}

void Programmer::ShowResult(ShownResult result, const std::string& caption, MessageIcon icon) {
  SendToWindow([&](DialogWindow& window) {
    {
      std::lock_guard<std::mutex> lock(resultsMutex_);
      shownResults_.push_back(result);
    }
    window.ResultBox(result, caption, icon);
  });
}

void Programmer::UiPhase(const char* phase) {
  if (!phaseObserver_) return;
  SendToWindow([&](DialogWindow&) { phaseObserver_(phase); });
}

void Programmer::UiMessageBox(const std::string& text, const std::string& caption, MessageIcon icon) {
  SendToWindow([&](DialogWindow& window) { window.MessageBox(text, caption, icon); });
}

}  // namespace kt
