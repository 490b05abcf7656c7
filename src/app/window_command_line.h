#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hid/sim/sim_options.h"
#include "image/image_file.h"

namespace kt {

// What the window programs take on their command line. Every other argument is refused (a typo in
// --simulate must never open a window on real hardware).
struct WindowOptions {
  std::optional<std::string> simulate;  // "" for the bare --simulate
  std::optional<std::string> imageFile;
  // The station window and what only it takes.
  bool station = false;
  std::optional<std::string> recordFile;
  std::optional<std::string> slotsFile;
  bool useEvbIds = false;
  bool quiet = false;  // no sound for a result
};

// Options are `--name VALUE` or `--name=VALUE`; the last of a repeated option counts. False with `error`
// (one line naming the argument, then the usage) for an unknown argument, a missing value, or a station
// option without --station.
bool ParseWindowCommandLine(const std::vector<std::string>& args, WindowOptions& options, std::string& error);

// The usage lines, as the refusal ends with them.
extern const char kWindowUsage[];

// What a window program exits with when it does not start: an argument, the simulated board's options,
// the image or the slots file refused (a box has named the problem).
inline constexpr int kWindowRefusedStatus = 2;

// What a window program has settled before any window opens: its options, the simulated board's, and the
// image file read and checked.
struct WindowStart {
  WindowOptions options;
  SimOptions sim;
  std::shared_ptr<const ImageBytes> image;  // null: the built-in one
};

// False with the text of the box that tells why the program does not start: the command line's refusal,
// the simulated board's options, or "Error!! Invalid EEPROM FW Content!" and the image's fault.
bool PrepareWindowStart(const std::vector<std::string>& args, WindowStart& start, std::string& error);

}  // namespace kt
