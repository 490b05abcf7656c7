#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hid/sim/sim_options.h"

namespace kt {

enum class CliCommand { kNone, kWrite, kErase, kProbe, kList, kRead, kVerify, kInfo, kStation, kExplain };

// The command's name as typed ("write", ...; "" for none).
const char* CommandName(CliCommand command);

inline constexpr std::uint32_t kDefaultWaitSeconds = 60;

struct CliOptions {
  CliCommand command = CliCommand::kNone;
  bool help = false;
  bool version = false;
  // Typed into the ID fields as given (1 to 4 hexadecimal digits, an optional 0x before them).
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
  // The image to program or compare with instead of the built-in one.
  std::optional<std::string> imageFile;
  // Where read puts the EEPROM's bytes.
  std::optional<std::string> outputFile;
  // Exactly this HID interface instead of the search by IDs, or the board at this port.
  std::optional<std::string> devicePath;
  // Wait this long for a board to answer before the job starts.
  std::optional<std::uint32_t> waitSeconds;
  // station: only these ports (all when empty).
  std::vector<std::string> ports;
  // station: keep programming boards as they are plugged in; append each board's result to this file.
  bool watch = false;
  std::optional<std::string> recordFile;
  // explain: the number as typed, "-8" as a box shows it or "8" and "26" as exit statuses; none: all.
  std::optional<std::string> explainNumber;
  bool json = false;
  bool quiet = false;
  bool verbose = false;
};

// Parses the arguments after the program name. On a usage error returns false with `error` naming the
// offending argument, and `out` holding what was read before it.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& out, std::string& error);

// The text of --help.
std::string UsageText();

}  // namespace kt
