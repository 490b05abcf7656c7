#include "app/cli/job_driver.h"

#include "app/cli/job_wait.h"
#include "hid/hid_link.h"

namespace kt {

JobDriver::JobDriver(MessageQueueWindow& window, std::function<std::uint64_t()> activity, HidBackend& backend,
                     ReplugWatch& watch, Clock& clock)
    : window_(window),
      activity_(std::move(activity)),
      backend_(backend),
      watch_(watch),
      clock_(clock),
      dialog_(window, backend, clock) {}

JobDriver::~JobDriver() {
  *alive_ = false;
  dialog_.OnCommand(kIdOk);
  dialog_.DestroyWindow();
}

void JobDriver::Run(const JobPlan& plan, const std::function<void()>& started) {
  if (StopRequested()) return;
  dialog_.OnInitDialog();
  if (plan.vendorIdText) window_.SetItemText(ctl::kVendorId, *plan.vendorIdText);
  if (plan.productIdText) window_.SetItemText(ctl::kProductId, *plan.productIdText);
  if (plan.useEvbIds) {
    window_.SetCheck(ctl::kUseEvbIds, true);
    if (plan.command != CliCommand::kProbe) TypeEvbIdsWhereTheyAnswer();
  }
  dialog_.SetImageSource(plan.image);
  bool jobRuns = true;
  switch (plan.command) {
    case CliCommand::kProbe:
      return;
    case CliCommand::kErase:
      dialog_.OnCommand(ctl::kEraseEeprom);
      jobRuns = false;
      break;
    case CliCommand::kWrite:
    case CliCommand::kStation:
      watch_.Mark();
      dialog_.OnCommand(ctl::kWriteEeprom);
      break;
    default:
      dialog_.OnReadEeprom(plan.command == CliCommand::kInfo);
      break;
  }
  // Where the job found the board, before the job changes anything.
  if (!(dialog_.targetVendorId == 0xFFFF && dialog_.targetProductId == 0xFFFF)) {
    foundAt_ = UsbIds{dialog_.targetVendorId, dialog_.targetProductId};
  }
  if (!dialog_.hidLink.openedPath.empty()) openedPath_ = dialog_.hidLink.openedPath;
  if (jobRuns) {
    if (started) started();
    // Until the job hands the button back or a stop has run.
    gaveUp_ = !PumpWhileTheJobLives(window_, plan.quietBoundMs, activity_,
                                    [this] { return stopped_ || window_.IsEnabled(ctl::kWriteEeprom); });
  }
  // A stop posted meanwhile runs before the verdict.
  window_.PumpMessagesUntil(SystemClock(), 0, [] { return true; });
}

void JobDriver::Stop(std::function<void()> first) {
  stopRequested_.store(true, std::memory_order_release);
  watch_.Cancel();
  window_.PostToWindowThread([this, alive = alive_, first = std::move(first)] {
    if (!*alive || stopped_) return;
    if (first) first();
    resultsBeforeStop_ = dialog_.ShownResults().size();
    dialog_.OnExit();
    stopped_ = true;
  });
}

bool BoardAnswersAt(HidBackend& backend, Clock& clock, const std::vector<UsbIds>& ids) {
  HidLink link;
  CreateHidLink(link, backend, clock);
  bool found = false;
  for (const UsbIds& one : ids) {
    if (!found) found = OpenHidLink(link, one.vendorId, one.productId);
  }
  DestroyHidLink(link);
  return found;
}

void JobDriver::TypeEvbIdsWhereTheyAnswer() {
  const UsbIds typed{ParseHexField(window_.GetItemText(ctl::kVendorId)),
                     ParseHexField(window_.GetItemText(ctl::kProductId))};
  if (BoardAnswersAt(backend_, clock_, {typed})) return;
  for (const UsbIds& evb : evbTargets) {
    if (!BoardAnswersAt(backend_, clock_, {evb})) continue;
    window_.SetItemText(ctl::kVendorId, Hex4(evb.vendorId));
    window_.SetItemText(ctl::kProductId, Hex4(evb.productId));
    return;
  }
}

bool JobDriver::WaitForReplug(const std::vector<UsbIds>& ids, std::uint32_t timeoutMs) {
  if (watch_.WaitForReplug(clock_, timeoutMs, [&] { return BoardAnswersAt(backend_, clock_, ids); }))
    return true;
  replugTimedOut_ = !StopRequested();
  return false;
}

std::optional<ShownResult> JobDriver::Deciding(RunKind kind) const {
  std::vector<ShownResult> shown = dialog_.ShownResults();
  if (resultsBeforeStop_ && shown.size() > *resultsBeforeStop_) shown.resize(*resultsBeforeStop_);
  return DecidingResult(shown, kind);
}

std::optional<int> JobDriver::JobResult() const {
  const std::int32_t job = dialog_.lastJobResult.load(std::memory_order_acquire);
  return job == Programmer::kNoJobResult ? std::nullopt : std::optional<int>(job);
}

void JobDriver::Conclude(RunKind kind, JobOutcome& out) const {
  out.ids = foundAt_;
  out.path = openedPath_;
  if (dialog_.chipId != 0 || dialog_.chipVersion != 0) {
    out.chipId = dialog_.chipId;
    out.chipVersion = dialog_.chipVersion;
  }
  out.result = std::nullopt;
  const std::optional<ShownResult> deciding = Deciding(kind);
  if (gaveUp_) {
    out.stage = "quiet";
    out.text = "the job gave no sign of life; given up";
    out.exitStatus = kExitNoResult;
    out.result = JobResult();
  } else if (deciding) {
    out.stage = ResultStepName(deciding->step);
    out.text = deciding->text;
    out.exitStatus = ExitStatusFor(*deciding);
    out.result = deciding->number;
  } else if (replugTimedOut_) {
    out.stage = "replug";
    out.text = "the board did not leave and come back after the erase";
    out.exitStatus = kExitReplugTimeout;
  } else if (StopRequested()) {
    out.stage = "stopped";
    out.text = "stopped before the job told a result";
    out.exitStatus = kExitInterrupted;
  } else {
    out.stage = "job";
    out.text = "the job ended without a result";
    out.exitStatus = kExitNoResult;
    out.result = JobResult();
  }
}

}  // namespace kt
