#include "app/cli/exit_status.h"

namespace kt {

int ExitStatusFor(const ShownResult& shown) {
  const int number = shown.number.value_or(0);
  switch (shown.step) {
    case ResultStep::kImage:
      return kExitInvalidImage;
    case ResultStep::kFind:
      return number == -1 ? kExitNotFoundAbsent : kExitNotFoundPresent;
    case ResultStep::kErase:
      return number == 0 ? kExitOk : number == -1 ? kExitEraseNotSent : kExitEraseNotOpened;
    case ResultStep::kJob:
      break;
  }
  return -number;
}

std::optional<ShownResult> DecidingResult(const std::vector<ShownResult>& shown, RunKind kind) {
  for (const ShownResult& one : shown) {
    if (kind == RunKind::kErase || one.EndsWrite()) return one;
  }
  return std::nullopt;
}

}  // namespace kt
