#pragma once

#include <optional>
#include <string>
#include <vector>

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
// probe: no blank board answers.
inline constexpr int kExitNoBlankBoard = 1;
inline constexpr int kExitUsage = 64;

// The status a message box stands for, or nothing when the box tells no result (a block routine's own
// failure box, for example, which is followed by the numbered one).
std::optional<int> ExitStatusForMessage(const std::string& text);

enum class RunKind { kWrite, kErase };

// The status of a run that showed `messages`, in order: the last box that tells a result decides.
int ExitStatusForRun(const std::vector<std::string>& messages, RunKind kind);

}  // namespace kt
