#include "app/cli/exit_status.h"

#include <string_view>

#include "app/write_eeprom_dialog.h"
#include "programming/job_messages.h"

namespace kt {
namespace {

constexpr std::string_view kJobOk = job_text::kWriteOk;
// JobFailureText's wording up to the number's digits.
const std::string kJobFailPrefix = JobFailureText(-1).substr(0, JobFailureText(-1).size() - 2);
constexpr int kHighestJobFailure = 13;

// "N)" with N a decimal number in 1..kHighestJobFailure and nothing after the bracket.
std::optional<int> JobFailureNumber(std::string_view rest) {
  if (rest.size() < 2 || rest.back() != ')') return std::nullopt;
  rest.remove_suffix(1);
  if (rest.size() > 2) return std::nullopt;
  int number = 0;
  for (char c : rest) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  if (number < 1 || number > kHighestJobFailure) return std::nullopt;
  return number;
}

}  // namespace

std::optional<int> ExitStatusForMessage(const std::string& text) {
  if (text == kJobOk) return kExitOk;
  if (text.starts_with(kJobFailPrefix))
    return JobFailureNumber(std::string_view(text).substr(kJobFailPrefix.size()));
  if (text == prep_text::kInvalidImage) return kExitInvalidImage;
  if (text == prep_text::kNotFoundAbsent) return kExitNotFoundAbsent;
  if (text == prep_text::kNotFoundPresent) return kExitNotFoundPresent;
  if (text == prep_text::kEraseNotSent) return kExitEraseNotSent;
  if (text == prep_text::kEraseNotOpened) return kExitEraseNotOpened;
  return std::nullopt;
}

std::optional<std::size_t> DecidingMessage(const std::vector<std::string>& messages, RunKind kind) {
  for (std::size_t i = 0; i < messages.size(); ++i) {
    if (ExitStatusForMessage(messages[i])) return i;
    // The erase path's last word when both erase commands went out. Within a write job it only means
    // that the job went on, so it never stands for the job's result.
    if (kind == RunKind::kErase && messages[i] == prep_text::kReplug) return i;
  }
  return std::nullopt;
}

int ExitStatusForRun(const std::vector<std::string>& messages, RunKind kind) {
  const std::optional<std::size_t> deciding = DecidingMessage(messages, kind);
  if (!deciding) return kExitNoResult;
  return ExitStatusForMessage(messages[*deciding]).value_or(kExitOk);
}

}  // namespace kt
