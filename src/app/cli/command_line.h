#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hid/sim/sim_options.h"

namespace kt {

enum class CliCommand { kWrite, kErase, kProbe, kList };

struct CliOptions {
  CliCommand command = CliCommand::kWrite;
  bool help = false;
  bool version = false;
  // Typed into the ID fields as they are; the dialog reads them as it reads what an operator types.
  std::optional<std::string> vendorIdText;
  std::optional<std::string> productIdText;
  bool useEvbIds = false;
  bool simulate = false;
  SimOptions sim;
  std::optional<std::string> traceFile;
  // Go on past the re-plug box without waiting for Enter.
  bool yes = false;
  // Without Enter to wait for, the wait for the board to leave and come back after the erase.
  std::uint32_t replugTimeoutSeconds = 60;
};

// Parses the arguments after the program name. On a usage error returns false with `error` naming the
// offending argument.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& out, std::string& error);

// The text of --help.
std::string UsageText();

}  // namespace kt
