#pragma once

#include <string>

namespace kt {

// What the operator reads at the end of a job. The texts are the tool's established wording, typos and
// double blanks included: operators and their scripts look for them.
namespace job_text {
inline constexpr char kWriteOk[] = "Write to EEPROM OK!";
inline constexpr char kBodyWriteFailed[] = "Fail to write EEPROM!!";
inline constexpr char kBodyWriteCaption[] = "Write to EEPROM";
inline constexpr char kReadBackFailed[] = "Fail to read EEPROM!!";
inline constexpr char kReadBackCaption[] = "Read from EEPROM";
}  // namespace job_text

// The numbered result box of a failed job: "Write to EEPROM Fail!  Try Again!(-N)" for number -N.
inline std::string JobFailureText(int number) {
  return "Write to EEPROM Fail!  Try Again!(" + std::to_string(number) + ")";
}

// The numbers, in the order of the steps they stand for.
namespace job_failure {
inline constexpr int kChipIdRead = -1;
inline constexpr int kWrongChipId = -2;
inline constexpr int kChipVersionRead = -3;
inline constexpr int kWrongChipVersion = -4;
inline constexpr int kHeaderClear = -5;
inline constexpr int kClearedHeaderRead = -6;
inline constexpr int kHeaderNotCleared = -7;
inline constexpr int kBodyWrite = -8;
inline constexpr int kReadBack = -9;
inline constexpr int kBodyMismatch = -12;
inline constexpr int kHeaderWrite = -10;
inline constexpr int kHeaderMismatch = -11;
// Not in the original tool, which ended this case silently: a job must never look like a success.
inline constexpr int kFinalHeaderRead = -13;
}  // namespace job_failure

}  // namespace kt
