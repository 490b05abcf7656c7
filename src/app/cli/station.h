#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/cli/cli_output.h"
#include "app/cli/command_line.h"
#include "app/cli/console_window.h"
#include "base/clock.h"
#include "base/durable_append.h"
#include "hid/hid_backend.h"
#include "image/image_file.h"

namespace kt {

// Exit status of a station with at least one failed board.
inline constexpr int kExitStationFailures = 30;
// Exit status of a station where some board's result could not be written to the record.
inline constexpr int kExitStationNotRecorded = 31;

struct StationSetup {
  const CliOptions* options = nullptr;
  HidBackend* backend = nullptr;  // every board's, shared
  Clock* clock = nullptr;
  std::shared_ptr<const ImageBytes> image;  // null: the built-in one
  std::string imageSha256;
  DurableAppendFile* record = nullptr;  // null without --record
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
