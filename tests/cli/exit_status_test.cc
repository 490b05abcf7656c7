#include "app/cli/exit_status.h"

#include <gtest/gtest.h>

#include "app/write_eeprom_dialog.h"
#include "programming/job_messages.h"

namespace kt {
namespace {

const ShownResult kOk{ResultStep::kJob, 0, job_text::kWriteOk};
const ShownResult kImage{ResultStep::kImage, std::nullopt, prep_text::kInvalidImage};
const ShownResult kAbsent{ResultStep::kFind, -1, prep_text::kNotFoundAbsent};
const ShownResult kPresent{ResultStep::kFind, -2, prep_text::kNotFoundPresent};
const ShownResult kNotSent{ResultStep::kErase, -1, prep_text::kEraseNotSent};
const ShownResult kNotOpened{ResultStep::kErase, -2, prep_text::kEraseNotOpened};
const ShownResult kReplug{ResultStep::kErase, 0, prep_text::kReplug};
ShownResult Job(int number) {
  return {ResultStep::kJob, number, JobFailureText(number)};
}

TEST(ExitStatusTest, EveryResultBoxHasItsStatus) {
  const struct {
    ShownResult shown;
    int status;
  } rows[] = {{kOk, 0},      {Job(-1), 1},   {Job(-12), 12}, {Job(-13), 13},   {kImage, 20},
              {kAbsent, 21}, {kPresent, 22}, {kNotSent, 23}, {kNotOpened, 24}, {kReplug, 0}};
  for (const auto& row : rows) EXPECT_EQ(ExitStatusFor(row.shown), row.status) << row.shown.text;
}

TEST(ExitStatusTest, TheFirstResultOfARunDecides) {
  const struct {
    std::vector<ShownResult> shown;
    RunKind kind;
    std::optional<ShownResult> deciding;
  } rows[] = {
      // No board at all: the erase path's "(-2)" only follows from the search that found nothing.
      {{kAbsent, kNotOpened}, RunKind::kWrite, kAbsent},
      {{kAbsent, kNotOpened}, RunKind::kErase, kAbsent},
      {{kNotSent}, RunKind::kWrite, kNotSent},
      {{kReplug, kAbsent}, RunKind::kWrite, kAbsent},
      {{kReplug, Job(-8)}, RunKind::kWrite, Job(-8)},
      {{kReplug}, RunKind::kErase, kReplug},
      // Within a write job the re-plug box only says the job went on: a job that then ends without a
      // result box must not pass for a good one.
      {{kReplug}, RunKind::kWrite, std::nullopt},
      {{}, RunKind::kWrite, std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(DecidingResult(row.shown, row.kind), row.deciding);
}

}  // namespace
}  // namespace kt
