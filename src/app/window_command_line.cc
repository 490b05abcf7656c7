#include "app/window_command_line.h"

#include <string_view>

#include "app/write_eeprom_dialog.h"

namespace kt {

const char kWindowUsage[] =
    "Usage: KT701xWriteEepromMP [--image FILE] [--simulate[=OPTIONS]]\n"
    "       KT701xWriteEepromMP --station [--record FILE] [--image FILE] [--evb-ids] [--slots FILE]\n"
    "                           [--quiet] [--simulate[=OPTIONS]]";

namespace {

// `arg` is `--name` (then the value is the next argument) or `--name=VALUE`.
enum class Match { kNo, kBare, kWithValue };
Match MatchOption(std::string_view arg, std::string_view name) {
  if (arg == name) return Match::kBare;
  if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
    return Match::kWithValue;
  }
  return Match::kNo;
}

}  // namespace

bool ParseWindowCommandLine(const std::vector<std::string>& args, WindowOptions& options, std::string& error) {
  const auto refuse = [&error](const std::string& why) {
    error = why + "\n\n" + kWindowUsage;
    return false;
  };
  struct Valued {
    std::string_view name;
    std::optional<std::string>* value;
    bool stationOnly;
  };
  const Valued valued[] = {{"--image", &options.imageFile, false},
                           {"--record", &options.recordFile, true},
                           {"--slots", &options.slotsFile, true}};
  std::vector<std::string_view> stationOnly;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--station") {
      options.station = true;
      continue;
    }
    if (arg == "--evb-ids" || arg == "--quiet") {
      (arg == "--quiet" ? options.quiet : options.useEvbIds) = true;
      stationOnly.push_back(arg);
      continue;
    }
    // Only --simulate=OPTIONS: a bare --simulate takes no value from the next argument.
    constexpr std::string_view kSimulate = "--simulate";
    if (const Match m = MatchOption(arg, kSimulate); m != Match::kNo) {
      options.simulate = m == Match::kBare ? std::string() : arg.substr(kSimulate.size() + 1);
      continue;
    }
    bool known = false;
    for (const Valued& option : valued) {
      const Match m = MatchOption(arg, option.name);
      if (m == Match::kNo) continue;
      known = true;
      std::string value;
      if (m == Match::kWithValue) {
        value = arg.substr(option.name.size() + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      if (value.empty()) return refuse(std::string(option.name) + " needs a file name");
      *option.value = value;
      if (option.stationOnly) stationOnly.push_back(option.name);
      break;
    }
    if (!known) return refuse("unknown option: " + arg);
  }
  if (!options.station && !stationOnly.empty()) {
    return refuse(std::string(stationOnly.front()) + " is an option of --station");
  }
  return true;
}

bool PrepareWindowStart(const std::vector<std::string>& args, WindowStart& start, std::string& error) {
  if (!ParseWindowCommandLine(args, start.options, error)) return false;
  if (start.options.simulate && !ParseSimOptions(*start.options.simulate, start.sim, error)) return false;
  if (start.options.imageFile) {
    std::string why;
    start.image = LoadImageFile(*start.options.imageFile, start.options.useEvbIds, why);
    if (!start.image) {
      error = std::string(prep_text::kInvalidImage) + "\n\n" + why;
      return false;
    }
  }
  return true;
}

}  // namespace kt
