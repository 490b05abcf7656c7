#pragma once

#include <optional>
#include <string>

namespace kt {

// The step a result box ends.
enum class ResultStep {
  kImage,  // "Error!! Invalid EEPROM FW Content!"
  kFind,   // "USB deivce is NOT found!!(-N)"
  kErase,  // "EEPROM Can't be Written!!(-N)"; number 0: the re-plug box after both erase commands
  kJob,    // "Write to EEPROM OK!" (0) or "Write to EEPROM Fail!  Try Again!(-N)"
};

// A box that tells a result, as the dialog showed it: what it stands for is kept beside its text, so that
// nobody has to read the number back out of the words.
struct ShownResult {
  ResultStep step = ResultStep::kJob;
  std::optional<int> number;  // 0, or the box's -N; none for the image box
  std::string text;

  bool ok() const { return number == 0; }
  // Whether the box ends a write job: the re-plug box only says that the job goes on.
  bool EndsWrite() const { return !(step == ResultStep::kErase && ok()); }
  bool operator==(const ShownResult&) const = default;
};

// How --json and the record name the step: "image", "find", "erase", "job".
constexpr const char* ResultStepName(ResultStep step) {
  switch (step) {
    case ResultStep::kImage:
      return "image";
    case ResultStep::kFind:
      return "find";
    case ResultStep::kErase:
      return "erase";
    case ResultStep::kJob:
      break;
  }
  return "job";
}

}  // namespace kt
