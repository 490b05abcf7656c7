#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/cli/cli_output.h"
#include "app/cli/command_line.h"
#include "app/cli/console_window.h"
#include "app/cli/job_outcome.h"
#include "base/clock.h"
#include "base/durable_append.h"
#include "hid/hid_backend.h"
#include "image/image_file.h"

namespace kt {

// Exit status of a station with at least one failed board.
inline constexpr int kExitStationFailures = 30;
// Exit status of a station where some board's result could not be written to the record.
inline constexpr int kExitStationNotRecorded = 31;

// What a station runs with, as its front-end shows it above the boards.
struct StationFacts {
  std::string imageFile;  // empty: the built-in image
  std::string imageSha256;
  std::optional<std::uint16_t> imageFirmware;  // none: the image has no firmware record
  std::string recordFile;                      // empty: no record
  bool evbIds = false;
  bool simulated = false;
};

// A board's box as the station tells it: a message on the way, the re-plug box (the job goes on at the same
// port once the board is back), or the box that tells the job's result (which comes again as its Result).
enum class StationBox { kMessage, kReplug, kResult };

// The station's front-end: the console's lines, or the station window's tiles. Called from the boards'
// threads and the station's own, one call at a time for each board; a view serialises what it shares.
class StationView {
 public:
  virtual ~StationView() = default;
  virtual void Begin(const StationFacts& facts) = 0;
  // A board's job starts at `port` (a new board there, or the same one plugged in again).
  virtual void JobStarted(const std::string& port) = 0;
  virtual void Box(const std::string& port, const std::string& text, const std::string& caption,
                   MessageIcon icon, StationBox kind) = 0;
  virtual void Progress(const std::string& port, int position) = 0;
  // The board's result, once the record holds it (or could not take it: outcome.recorded false).
  virtual void Result(const JobOutcome& outcome) = 0;
  virtual void Summary(int succeeded, int failed, int notRecorded, int status) = 0;
  virtual void Note(const std::string& text) = 0;
  // Shown whatever --quiet says.
  virtual void Error(const std::string& text) = 0;
  // The results no longer reach anyone (standard output closed): no new board is taken.
  virtual bool OutputLost() = 0;
};

struct StationSetup {
  const CliOptions* options = nullptr;
  HidBackend* backend = nullptr;  // every board's, shared
  Clock* clock = nullptr;
  std::shared_ptr<const ImageBytes> image;  // null: the built-in one
  std::string imageSha256;
  std::optional<std::uint16_t> imageFirmware;
  DurableAppendFile* record = nullptr;  // null without --record
  StationView* view = nullptr;          // null: the console's lines
  std::uint32_t quietBoundMs = 0;
  // Given the station's interrupt (what Ctrl-C does) once it runs, and an empty one before it returns.
  std::function<void(std::function<void()>)> takeInterrupt;
};

// Programs every board attached at the start, each on a job of its own, all at once; with --watch, then
// every board plugged in until interrupted. Returns the exit status (0, 30, 31, 28, 21). A board whose job
// stayed inside a device call past Exit's bounds is given up alone; the others run to their end, and then
// the process ends with 27 from here, everything written and flushed.
int RunStation(const StationSetup& setup, ConsoleIo& io, CliOutput& output);

}  // namespace kt
