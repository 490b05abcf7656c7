#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kt {

struct CliOptions;

// One result a user can meet, a numbered box, a box without a number or a bare exit status, with what it
// means and what to do about it. The window programs' operators see only the boxes, a script only the
// exit statuses: `kt7310-eeprom explain` links the two and tells both what to do next.
struct ResultRow {
  int number = 0;                  // as met: the box's "(-N)" when it has one, else the exit status
  std::optional<std::string> box;  // the box's exact text
  int exitStatus = 0;              // what kt7310-eeprom exits with when this result decides its run
  std::string_view step;           // what failed, in the operator's words, and the state of the board
  std::string_view next;           // what the operator does next
};

// Every row, by number: the job's failures -1 to -13, the preparation's boxes, then the command line's own
// exit statuses.
const std::vector<ResultRow>& ResultTable();

// How the man page, README and `explain` name a row: "-8, exit status 8", or "exit status 26" when the
// result has no number of its own.
std::string ResultHeading(const ResultRow& row);

// The rows `text` may stand for. "-N" is a box's number: the rows whose box shows "(-N)". "N" may also be
// an exit status, or a box's number typed without its sign: the rows with either. A job failure's exit
// status is its own number, so "8" and "-8" both find -8 alone. Empty when nothing matches.
std::vector<const ResultRow*> ExplainRows(std::string_view text);

// kt7310-eeprom explain [N] [--json]: the rows for N, every row without one, as text or one JSON object
// per row (number, box, exit_status, step, next). Returns the exit status.
int RunExplain(const CliOptions& options, std::ostream& out);

}  // namespace kt
