#include "app/cli/result_table.h"

#include <charconv>
#include <nlohmann/json.hpp>

#include "app/cli/command_line.h"
#include "app/cli/exit_status.h"
#include "app/cli/station.h"
#include "app/write_eeprom_dialog.h"
#include "programming/job_messages.h"
#include "programming/programmer.h"

namespace kt {
namespace {

constexpr std::size_t kTextWidth = 100;

// The status is the one a run takes from the box, so the table cannot drift from what a run exits with.
ResultRow BoxRow(const ShownResult& shown, std::string_view step, std::string_view next) {
  const int status = ExitStatusFor(shown);
  return {shown.number.value_or(status), shown.text, status, step, next};
}

ResultRow JobRow(int number, std::string_view step, std::string_view next) {
  return BoxRow({ResultStep::kJob, number, JobFailureText(number)}, step, next);
}

ResultRow StatusRow(int status, std::string_view step, std::string_view next) {
  return {status, std::nullopt, status, step, next};
}

std::vector<ResultRow> BuildTable() {
  using namespace job_failure;
  return {
      StatusRow(kExitOk,
                "Nothing failed. write: the board is programmed and verified (\"Write to EEPROM OK!\"); "
                "erase: both erase commands went out; read, verify, info: done, verify found no "
                "difference; probe: a blank board answers; list: interfaces listed; station: every board "
                "succeeded.",
                "Take the next board."),
      JobRow(kChipIdRead,
             "Reading the chip ID: the board was opened but did not answer. Nothing was written to the "
             "EEPROM (a board this run erased first stays erased).",
             "Re-plug the board (check the cable) and try again. If it fails again, put the board aside."),
      JobRow(kWrongChipId,
             "Checking the chip ID: the board answered, but its chip is not a KT7310. Nothing was written "
             "to the EEPROM (a board this run erased first stays erased).",
             "The board's chip is not a KT7310: put the board aside. Trying again will not help."),
      JobRow(kChipVersionRead,
             "Reading the chip version: the board answered its chip ID, then stopped answering. Nothing "
             "was written to the EEPROM (a board this run erased first stays erased).",
             "Re-plug the board and try again. If it fails again, put the board aside."),
      JobRow(kWrongChipVersion,
             "Checking the chip version: the chip is not the KT7310 version this tool programs (0x738x). "
             "Nothing was written to the EEPROM (a board this run erased first stays erased).",
             "Put the board aside: its chip is another version, and trying again will not help "
             "(kt7310-eeprom info shows the version it read)."),
      JobRow(kHeaderClear,
             "Clearing the EEPROM's header, the job's first write: the board did not answer. The header "
             "may or may not be cleared, the rest is unchanged: do not count on the board.",
             "Re-plug the board and write it again."),
      JobRow(kClearedHeaderRead,
             "Reading the header back after clearing it: the board did not answer. The header is most "
             "likely cleared (all zero), so the board is not valid; the rest is unchanged.",
             "Re-plug the board and write it again."),
      JobRow(kHeaderNotCleared,
             "Checking the cleared header: it did not read back as zeros, so the EEPROM did not take the "
             "write, most likely because its write protect stayed on. The rest was not written; the "
             "header may be partly changed: do not count on the board.",
             "Re-plug the board and write it again. If -7 comes back, the write protect cannot be released "
             "on this board: put it aside."),
      JobRow(kBodyWrite,
             "Writing the EEPROM (after \"Fail to write EEPROM!!\"): the board stopped answering part-way, "
             "or the job was stopped. The header is cleared and the rest only partly written: the board "
             "is not valid.",
             "Re-plug the board and write it again."),
      JobRow(kReadBack,
             "Reading the EEPROM back (after \"Fail to read EEPROM!!\"): the board stopped answering "
             "part-way, or the job was stopped. write: everything but the header was written, not "
             "checked, and the header is cleared: the board is not valid. read, verify: nothing was "
             "written, the board is unchanged.",
             "Re-plug the board and try again."),
      JobRow(kHeaderWrite,
             "Writing the header, the last step: a piece of it got no answer or read back wrong. The rest "
             "is written and checked, the header only partly written: the board is not valid.",
             "Re-plug the board and write it again. If -10 comes back, put the board aside."),
      JobRow(kHeaderMismatch,
             "Checking the written header: it reads back different from the image. The rest is written "
             "and checked, the header is wrong: the board is not valid.",
             "Re-plug the board and write it again. If -11 comes back, the EEPROM does not keep what is "
             "written: put the board aside."),
      JobRow(kBodyMismatch,
             "Comparing what was read back with the image: some bytes differ, the EEPROM did not keep "
             "them. The header was not written and stays cleared: the board is not valid.",
             "Write the board again. If -12 comes back, the EEPROM does not keep what is written: put the "
             "board aside."),
      JobRow(kFinalHeaderRead,
             "The last read of the whole header: the board did not answer. The header was written and "
             "each piece of it checked, so the board is most likely programmed, but that is not "
             "confirmed.",
             "Re-plug the board and run kt7310-eeprom verify, or write it again; count the board good "
             "only after that passes."),
      StatusRow(kExitNothingFound,
                "probe: no blank board answers (a programmed board, or none, is attached). list: no HID "
                "interface to list.",
                "probe: nothing to do for a programmed board (write erases it first). list: plug a board "
                "in and check the cable."),
      StatusRow(kExitVerifyMismatch,
                "verify: the EEPROM differs from the image; the line before says how many bytes and where "
                "the first one is. Nothing was written to the board.",
                "Write the board. If verify still finds a difference after a write that ended \"Write to "
                "EEPROM OK!\", put the board aside."),
      BoxRow({ResultStep::kImage, std::nullopt, prep_text::kInvalidImage},
             "Checking the image, before any board is touched: it is not 32,784 bytes, or its tags are "
             "missing or wrong (standard error says which). No board was touched.",
             "Use the right image file (or none, for the built-in one)."),
      BoxRow({ResultStep::kFind, -1, prep_text::kNotFoundAbsent},
             "Finding the board: none answered at the typed IDs or at 3B7D:7310, 7300, 72F7, 72F8, and no "
             "blank board was seen either. After the re-plug message it means that the board was erased "
             "and did not come back. On Linux a board that cannot be opened for want of permission (the "
             "udev rule, the plugdev group) looks the same.",
             "Plug the board in (check the cable) and try again; kt7310-eeprom list shows what the "
             "computer sees."),
      BoxRow({ResultStep::kFind, -2, prep_text::kNotFoundPresent},
             "Opening the board: a blank board was seen, but none could be opened at the typed or "
             "fallback IDs (unplugged meanwhile, or held by another program); with --device, that path "
             "could not be opened. Nothing was written.",
             "Check that the board is still plugged in and that no other program holds it, then try "
             "again."),
      BoxRow({ResultStep::kErase, -1, prep_text::kEraseNotSent},
             "Erasing a board that is not blank: it was opened, but an erase command could not be sent. "
             "The board may be unchanged, or already erased by the first of the two commands.",
             "Re-plug the board and try again. If it fails again, put the board aside."),
      BoxRow({ResultStep::kErase, -2, prep_text::kEraseNotOpened},
             "Erasing: the board to erase could not be opened, so nothing was erased. It comes after a "
             "\"USB deivce is NOT found!!\" box, whose status (21 or 22) the run ends with.",
             "As for that box: plug the board in and try again."),
      StatusRow(kExitNoResult,
                "The job ended without any result, or gave no sign of life (no box, no progress) for "
                "300 s. What the board holds is unknown.",
                "Re-plug the board and write it again. If it happens again, run with --trace FILE and keep "
                "the file."),
      StatusRow(kExitReplugTimeout,
                "Waiting for the board after the erase: it did not leave and come back within "
                "--replug-timeout (on Linux, without a running udevd no notice ever comes). The board was "
                "erased; no job started.",
                "Re-plug the board and write it again: an erased board is written without another erase."),
      StatusRow(kWorkerStuckExitStatus,
                "A stopped job stayed inside a device write that not even a cancel brought back (a board "
                "that stopped taking reports); the process ended without it. In a station only that "
                "board was given up, every other one ran to its end.",
                "Unplug that board, plug it in again and write it again. If it hangs again, put it aside."),
      StatusRow(kExitOutputLost,
                "Writing standard output (closed, full, its reader gone), in a run that otherwise "
                "succeeded: the board is done, its results are lost. The job is never cut short for it, "
                "and a failed job keeps its own status.",
                "Fix where standard output goes (disk space, the program reading it) before the next "
                "run."),
      StatusRow(kExitStationFailures,
                "station: at least one board failed; each board's line tells its own result.",
                "Look up each failed board's number (kt7310-eeprom explain -N) and do what it says."),
      StatusRow(kExitStationNotRecorded,
                "station: a board's result could not be written to the --record file (a full disk, a file "
                "that went away). Its line ends in \"(not recorded)\", and the station took no new board.",
                "Fix the record file, then write the boards marked \"(not recorded)\" again so that their "
                "results are recorded."),
      StatusRow(kExitUsage,
                "The command line: an option or argument was not understood, or a file it names (--output, "
                "--record, --trace) cannot be used; the message names which. No board was written.",
                "Correct the command (kt7310-eeprom --help) and run it again."),
      StatusRow(kExitInterrupted,
                "Stopped by Ctrl-C, SIGTERM or SIGHUP (a dropped session): the job stopped at its next "
                "step, as Exit stops it, and its box tells where; at the re-plug prompt the wait ended and "
                "no job started.",
                "Write the board again unless it showed \"Write to EEPROM OK!\": a job stopped part-way "
                "leaves it not valid."),
  };
}

// "label text", broken between words into lines of at most kTextWidth, the later ones under the text.
void PrintWrapped(std::ostream& out, std::string_view label, std::string_view text) {
  const std::string indent(label.size(), ' ');
  out << label;
  std::size_t column = label.size();
  bool lineStart = true;
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    if (!lineStart && column + 1 + word.size() > kTextWidth) {
      out << '\n' << indent;
      column = indent.size();
      lineStart = true;
    }
    if (!lineStart) {
      out << ' ';
      ++column;
    }
    out << word;
    column += word.size();
    lineStart = false;
  }
  out << '\n';
}

void PrintRow(std::ostream& out, const ResultRow& row, bool json) {
  if (json) {
    out << nlohmann::json{{"event", "explain"},
                          {"number", row.number},
                          {"box", row.box ? nlohmann::json(*row.box) : nlohmann::json(nullptr)},
                          {"exit_status", row.exitStatus},
                          {"step", std::string(row.step)},
                          {"next", std::string(row.next)}}
               .dump()
        << '\n';
    return;
  }
  out << ResultHeading(row) << (row.box ? ": \"" + *row.box + "\"" : std::string()) << '\n';
  PrintWrapped(out, "  Step: ", row.step);
  PrintWrapped(out, "  Next: ", row.next);
}

}  // namespace

const std::vector<ResultRow>& ResultTable() {
  static const std::vector<ResultRow> table = BuildTable();
  return table;
}

std::string ResultHeading(const ResultRow& row) {
  const std::string status = "exit status " + std::to_string(row.exitStatus);
  return row.number == row.exitStatus ? status : std::to_string(row.number) + ", " + status;
}

std::vector<const ResultRow*> ExplainRows(std::string_view text) {
  const bool boxNumber = text.starts_with('-');
  if (boxNumber) text.remove_prefix(1);
  // At most three digits: nothing is numbered higher than 130.
  int value = 0;
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return {};
  }
  std::from_chars(text.data(), text.data() + text.size(), value);
  std::vector<const ResultRow*> rows;
  for (const ResultRow& row : ResultTable()) {
    const bool shownInBox = value > 0 && row.number == -value;
    if (shownInBox || (!boxNumber && row.exitStatus == value)) rows.push_back(&row);
  }
  return rows;
}

int RunExplain(const CliOptions& options, std::ostream& out) {
  std::vector<const ResultRow*> rows;
  if (options.explainNumber) {
    rows = ExplainRows(*options.explainNumber);
  } else {
    for (const ResultRow& row : ResultTable()) rows.push_back(&row);
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    if (i > 0 && !options.json) out << '\n';
    PrintRow(out, *rows[i], options.json);
  }
  return kExitOk;
}

}  // namespace kt
