#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "programming/job_result.h"

namespace kt {

// Exit statuses of kt7310-eeprom, so that a production line script can tell the results apart without
// reading the text. A failed job's number becomes the status itself (1 to 13).
inline constexpr int kExitOk = 0;
inline constexpr int kExitInvalidImage = 20;
inline constexpr int kExitNotFoundAbsent = 21;
inline constexpr int kExitNotFoundPresent = 22;
inline constexpr int kExitEraseNotSent = 23;
inline constexpr int kExitEraseNotOpened = 24;
// The job ended without any box that tells its result.
inline constexpr int kExitNoResult = 25;
// After the erase, the board did not leave and come back within --replug-timeout.
inline constexpr int kExitReplugTimeout = 26;
// kWorkerStuckExitStatus (27): Exit could not get the job's worker back from a device call.
inline constexpr const char* kWorkerStuckText =
    "the job is still inside a device call 12 s after it was stopped: ending the process without it";
// Standard output could not be written (closed, full, its reader gone) in a run that otherwise succeeded.
inline constexpr int kExitOutputLost = 28;
// verify: the EEPROM differs from the image.
inline constexpr int kExitVerifyMismatch = 12;
// probe: no blank board answers; list: no interface to list.
inline constexpr int kExitNothingFound = 2;
// Stopped by Ctrl-C or SIGTERM.
inline constexpr int kExitInterrupted = 130;
inline constexpr int kExitUsage = 64;

// The status a result box stands for.
int ExitStatusFor(const ShownResult& shown);

enum class RunKind { kWrite, kErase };

// The first of `shown` that tells the run's result: the first failure is the cause, and whatever a failed
// preparation shows after it (the erase path's "(-2)" after "not found") only follows from it. Within a
// write job the re-plug box only says that the job went on.
std::optional<ShownResult> DecidingResult(const std::vector<ShownResult>& shown, RunKind kind);

}  // namespace kt
