#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/job_outcome.h"
#include "app/cli/replug_watch.h"
#include "app/message_queue_window.h"
#include "app/write_eeprom_dialog.h"
#include "image/image_tags.h"

namespace kt {

// A board written with --evb-ids answers under these afterwards: 3B7D:0001 at high speed, 0002 at full.
inline constexpr std::array<UsbIds, 2> evbTargets = {{
    {kEvbVendorId, kEvbHighSpeedProductId},
    {kEvbVendorId, kEvbFullSpeedProductId},
}};

// Whether a board answers through `backend` at one of `ids` (opened and closed again).
bool BoardAnswersAt(HidBackend& backend, Clock& clock, const std::vector<UsbIds>& ids);

// What one job is asked to do.
struct JobPlan {
  CliCommand command = CliCommand::kWrite;
  // Typed into the ID fields; none: the dialog's own.
  std::optional<std::string> vendorIdText;
  std::optional<std::string> productIdText;
  // With the EVB IDs the job also looks for the board under them, when none answers at the typed IDs.
  bool useEvbIds = false;
  std::shared_ptr<const ImageBytes> image;  // null: the built-in one
  std::uint32_t quietBoundMs = 0;
};

// One board's job over the dialog, for the single command and for each board of a station alike: the
// start, the IDs and the image, the re-plug wait, the window's messages while the job lives, the verdict,
// and Exit. Everything but Stop runs on the window's thread.
class JobDriver {
 public:
  // `backend` is the job's (the dialog searches it); `watch` sees its device changes.
  JobDriver(MessageQueueWindow& window, std::function<std::uint64_t()> activity, HidBackend& backend,
            ReplugWatch& watch, Clock& clock);
  // Exit, as the operator's button ends the dialog.
  ~JobDriver();

  // Set up before Run: the stuck-worker handler, the phase observer, the re-plug wait.
  CKT701xWriteEepromMPDlg& dialog() { return dialog_; }

  // Starts the job and runs the window until it has ended, a stop has run, or it gave no sign of life for
  // the plan's bound. `started` is called once the job has been handed its command.
  void Run(const JobPlan& plan, const std::function<void()>& started = {});
  // Any thread: stops the job as Exit does. `first` runs on the window's thread just before. What the job
  // shows after the stop is the stop's doing, not the job's result.
  void Stop(std::function<void()> first = {});
  bool StopRequested() const { return stopRequested_.load(std::memory_order_acquire); }

  // The re-plug wait after the erase: a removal, then an arrival after which a board answers at one of
  // `ids` through the job's backend, within `timeoutMs`. On a time-out (not a stop) the job's verdict is
  // "replug".
  bool WaitForReplug(const std::vector<UsbIds>& ids, std::uint32_t timeoutMs);

  // After Run: the job's verdict, with where it found the board. Fills every field of `out` the job
  // decides (the rest is the caller's).
  void Conclude(RunKind kind, JobOutcome& out) const;
  bool GaveUp() const { return gaveUp_; }
  // True when a box that tells a result decided the job.
  bool Decided(RunKind kind) const { return Deciding(kind).has_value(); }
  std::optional<int> JobResult() const;

 private:
  // --evb-ids: the EVB IDs typed in instead when no board answers at the typed ones but one does there.
  void TypeEvbIdsWhereTheyAnswer();
  std::optional<ShownResult> Deciding(RunKind kind) const;

  MessageQueueWindow& window_;
  std::function<std::uint64_t()> activity_;
  HidBackend& backend_;
  ReplugWatch& watch_;
  Clock& clock_;
  CKT701xWriteEepromMPDlg dialog_;
  std::atomic<bool> stopRequested_{false};
  bool stopped_ = false;  // the stop has run (window thread)
  std::optional<std::size_t> resultsBeforeStop_;
  bool gaveUp_ = false;
  bool replugTimedOut_ = false;
  std::optional<UsbIds> foundAt_;
  // Calls posted by Stop check this on the window's thread: the driver may be gone by then.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::string openedPath_;
};

}  // namespace kt
