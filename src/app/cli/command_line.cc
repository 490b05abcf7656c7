#include "app/cli/command_line.h"

#include <cstddef>
#include <string_view>

namespace kt {
namespace {

std::optional<CliCommand> CommandNamed(std::string_view name) {
  if (name == "write") return CliCommand::kWrite;
  if (name == "erase") return CliCommand::kErase;
  if (name == "probe") return CliCommand::kProbe;
  if (name == "list") return CliCommand::kList;
  return std::nullopt;
}

// Walks the arguments, handing out option values given either as "--name=value" or as the next argument.
class ArgumentReader {
 public:
  explicit ArgumentReader(const std::vector<std::string>& args) : args_(args) {}

  bool Done() const { return next_ >= args_.size(); }
  // Splits the next argument into its name and, after '=', its inline value.
  void Take(std::string& name, std::optional<std::string>& inlineValue) {
    const std::string& arg = args_[next_++];
    const std::size_t eq = arg.find('=');
    if (arg.starts_with("--") && eq != std::string::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    } else {
      name = arg;
      inlineValue.reset();
    }
  }
  bool Value(const std::string& name, std::optional<std::string>& inlineValue, std::string& value,
             std::string& error) {
    if (inlineValue) {
      value = *inlineValue;
      return true;
    }
    if (Done()) {
      error = "option " + name + " needs a value";
      return false;
    }
    value = args_[next_++];
    return true;
  }

 private:
  const std::vector<std::string>& args_;
  std::size_t next_ = 0;
};

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& out, std::string& error) {
  CliOptions options;
  bool commandGiven = false;
  ArgumentReader reader(args);
  while (!reader.Done()) {
    std::string name;
    std::optional<std::string> inlineValue;
    reader.Take(name, inlineValue);
    const bool takesValue =
        name == "--vid" || name == "--pid" || name == "--trace" || name == "--replug-timeout";
    if (inlineValue && !takesValue && name != "--simulate") {
      error = "option " + name + " takes no value";
      return false;
    }
    std::string value;
    if (takesValue && !reader.Value(name, inlineValue, value, error)) return false;

    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "--vid") {
      options.vendorIdText = value;
    } else if (name == "--pid") {
      options.productIdText = value;
    } else if (name == "--evb-ids") {
      options.useEvbIds = true;
    } else if (name == "--yes" || name == "-y") {
      options.yes = true;
    } else if (name == "--replug-timeout") {
      if (value.empty() || value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos) {
        error = "option --replug-timeout needs a whole number of seconds (0 to 99999)";
        return false;
      }
      options.replugTimeoutSeconds = static_cast<std::uint32_t>(std::stoul(value));
    } else if (name == "--trace") {
      if (value.empty()) {
        error = "option --trace needs a file name";
        return false;
      }
      options.traceFile = value;
    } else if (name == "--simulate") {
      // The value is optional, so only the "=" form gives one: `--simulate write` keeps its command.
      options.simulate = true;
      std::string simError;
      if (inlineValue && !ParseSimOptions(*inlineValue, options.sim, simError)) {
        error = "--simulate: " + simError;
        return false;
      }
    } else if (name.starts_with("-") && name != "-") {
      error = "unknown option " + name;
      return false;
    } else if (commandGiven) {
      error = "unexpected argument " + name;
      return false;
    } else if (const std::optional<CliCommand> command = CommandNamed(name)) {
      options.command = *command;
      commandGiven = true;
    } else {
      error = "unknown command " + name;
      return false;
    }
  }
  out = std::move(options);
  return true;
}

std::string UsageText() {
  return "Usage: kt7310-eeprom [COMMAND] [OPTIONS]\n"
         "Programs the configuration EEPROM of a KT7310 board over USB HID.\n"
         "\n"
         "Commands:\n"
         "  write        write the built-in image, read it back and verify it (the default)\n"
         "  erase        erase the EEPROM and ask for a re-plug\n"
         "  probe        tell whether a blank board answers (0x3B7D:0x72F7 or 0x72F8)\n"
         "  list         list every HID interface with vendor, product and report lengths\n"
         "\n"
         "Options:\n"
         "  --vid HEX            vendor ID field (default 3B7D)\n"
         "  --pid HEX            product ID field (default 7310)\n"
         "  --evb-ids            patch the image's descriptors with the EVB IDs\n"
         "  --simulate[=OPTS]    use the simulated board; OPTS is a comma-separated list, e.g.\n"
         "                       blank, virtual-time, chip-id=5, silent@N, unplug@N, manual-replug\n"
         "  --trace FILE         write every HID report to FILE\n"
         "  -y, --yes            go on after the re-plug message without waiting for Enter\n"
         "  --replug-timeout S   without a terminal or with --yes, wait at most S seconds (default 60)\n"
         "                       after the re-plug message for the board to leave and come back\n"
         "  -h, --help           show this text\n"
         "  --version            show the version\n"
         "\n"
         "Exit status: 0 written (or erased); 1-13 job failure -N; 20 invalid image;\n"
         "21/22 device not found (-1)/(-2); 23/24 EEPROM can't be written (-1)/(-2);\n"
         "25 no result; 26 the board did not leave and come back after the erase;\n"
         "probe: 0 blank board found, 1 none; 64 usage error.\n";
}

}  // namespace kt
