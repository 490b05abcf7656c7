#include "app/cli/exit_status.h"

#include <gtest/gtest.h>

#include "app/write_eeprom_dialog.h"

namespace kt {
namespace {

TEST(ExitStatusTest, EveryResultBoxHasItsStatus) {
  EXPECT_EQ(ExitStatusForMessage("Write to EEPROM OK!"), 0);
  EXPECT_EQ(ExitStatusForMessage("Write to EEPROM Fail!  Try Again!(-1)"), 1);
  EXPECT_EQ(ExitStatusForMessage("Write to EEPROM Fail!  Try Again!(-12)"), 12);
  EXPECT_EQ(ExitStatusForMessage("Write to EEPROM Fail!  Try Again!(-13)"), 13);
  EXPECT_EQ(ExitStatusForMessage(prep_text::kInvalidImage), 20);
  EXPECT_EQ(ExitStatusForMessage(prep_text::kNotFoundAbsent), 21);
  EXPECT_EQ(ExitStatusForMessage(prep_text::kNotFoundPresent), 22);
  EXPECT_EQ(ExitStatusForMessage(prep_text::kEraseNotSent), 23);
  EXPECT_EQ(ExitStatusForMessage(prep_text::kEraseNotOpened), 24);
}

TEST(ExitStatusTest, LookalikesTellNoResult) {
  for (const char* text :
       {"Fail to write EEPROM!!", "Write to EEPROM Fail!  Try Again!(-0)",
        "Write to EEPROM Fail!  Try Again!(-14)", "Write to EEPROM Fail! Try Again!(-3)",
        "Write to EEPROM Fail!  Try Again!(-3) ", "Write to EEPROM Fail!  Try Again!(-)"}) {
    EXPECT_FALSE(ExitStatusForMessage(text)) << text;
  }
}

TEST(ExitStatusTest, TheFirstResultOfARunDecides) {
  // No board at all: the erase path's "(-2)" only follows from the search that found nothing.
  EXPECT_EQ(ExitStatusForRun({prep_text::kNotFoundAbsent, prep_text::kEraseNotOpened}, RunKind::kWrite), 21);
  EXPECT_EQ(ExitStatusForRun({prep_text::kNotFoundAbsent, prep_text::kEraseNotOpened}, RunKind::kErase), 21);
  EXPECT_EQ(ExitStatusForRun({prep_text::kEraseNotSent}, RunKind::kWrite), 23);
  EXPECT_EQ(ExitStatusForRun({prep_text::kReplug, prep_text::kNotFoundAbsent}, RunKind::kWrite), 21);
  EXPECT_EQ(
      ExitStatusForRun({"Fail to write EEPROM!!", "Write to EEPROM Fail!  Try Again!(-8)"}, RunKind::kWrite),
      8);
  EXPECT_EQ(ExitStatusForRun({prep_text::kReplug}, RunKind::kErase), 0);
  // Within a write job the re-plug box only says the job went on: a job that then ends without a result
  // box must not pass for a good one.
  EXPECT_EQ(ExitStatusForRun({prep_text::kReplug}, RunKind::kWrite), kExitNoResult);
  EXPECT_EQ(ExitStatusForRun({}, RunKind::kWrite), kExitNoResult);
}

}  // namespace
}  // namespace kt
