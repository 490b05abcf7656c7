#include "app/cli/command_line.h"

#include <cstddef>
#include <functional>
#include <string_view>

#include "app/cli/result_table.h"

namespace kt {
namespace {

constexpr CliCommand kCommands[] = {CliCommand::kWrite, CliCommand::kErase,   CliCommand::kProbe,
                                    CliCommand::kList,  CliCommand::kRead,    CliCommand::kVerify,
                                    CliCommand::kInfo,  CliCommand::kStation, CliCommand::kExplain};

std::optional<CliCommand> CommandNamed(std::string_view name) {
  for (CliCommand command : kCommands) {
    if (name == CommandName(command)) return command;
  }
  return std::nullopt;
}

// 1 to 4 hexadecimal digits, with an optional 0x before them.
bool StrictHexId(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  return !text.empty() && text.size() <= 4 &&
         text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// Which options make sense with which command; anything else is a usage error rather than ignored.
bool OptionApplies(const std::string& option, CliCommand command) {
  using enum CliCommand;
  // explain touches no board and no file: only the form of its output can be chosen.
  if (command == kExplain) return option == "--json";
  const bool imageCommand =
      command == kWrite || command == kVerify || command == kInfo || command == kStation;
  // One board's job over the dialog.
  const bool boardJob =
      command == kWrite || command == kErase || command == kRead || command == kVerify || command == kInfo;
  if (option == "--image" || option == "--evb-ids") return imageCommand;
  if (option == "--output") return command == kRead;
  if (option == "--yes") return command == kWrite || command == kErase;
  if (option == "--replug-timeout") return command == kWrite || command == kErase || command == kStation;
  if (option == "--device" || option == "--wait" || option == "--verbose") return boardJob;
  if (option == "--vid" || option == "--pid") return boardJob || command == kStation;
  if (option == "--watch" || option == "--record" || option == "--port") return command == kStation;
  return true;
}

// A whole number of seconds, 0 to 99999.
bool Seconds(const std::string& text) {
  return !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == std::string::npos;
}

// Walks the arguments, handing out option values given either as "--name=value" or as the next argument.
class ArgumentReader {
 public:
  explicit ArgumentReader(const std::vector<std::string>& args) : args_(args) {}

  bool Done() const { return next_ >= args_.size(); }
  // The next argument when `accept` takes it, for an option whose value may be left out.
  std::optional<std::string> OptionalValue(const std::function<bool(const std::string&)>& accept) {
    if (Done() || !accept(args_[next_])) return std::nullopt;
    return args_[next_++];
  }
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

const char* CommandName(CliCommand command) {
  switch (command) {
    case CliCommand::kWrite:
      return "write";
    case CliCommand::kErase:
      return "erase";
    case CliCommand::kProbe:
      return "probe";
    case CliCommand::kList:
      return "list";
    case CliCommand::kRead:
      return "read";
    case CliCommand::kVerify:
      return "verify";
    case CliCommand::kInfo:
      return "info";
    case CliCommand::kStation:
      return "station";
    case CliCommand::kExplain:
      return "explain";
    case CliCommand::kNone:
      break;
  }
  return "";
}

bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& out, std::string& error) {
  // What was read before an error stays in `out`, so that the error can still be told as asked.
  out = CliOptions{};
  CliOptions& options = out;
  bool commandGiven = false;
  std::vector<std::string> given;  // options, to check against the command at the end
  ArgumentReader reader(args);
  while (!reader.Done()) {
    std::string name;
    std::optional<std::string> inlineValue;
    reader.Take(name, inlineValue);
    const bool takesValue = name == "--vid" || name == "--pid" || name == "--trace" ||
                            name == "--replug-timeout" || name == "--image" || name == "--output" ||
                            name == "--device" || name == "--record" || name == "--port";
    if (inlineValue && !takesValue && name != "--simulate" && name != "--wait") {
      error = "option " + name + " takes no value";
      return false;
    }
    std::string value;
    if (takesValue && !reader.Value(name, inlineValue, value, error)) return false;
    if (takesValue && value.empty() && name != "--vid" && name != "--pid") {
      error = "option " + name + " needs a value";
      return false;
    }
    // explain's number as a box shows it, "-8", is no option.
    const bool explainNumber =
        options.command == CliCommand::kExplain &&
        (!name.starts_with("-") || name.find_first_not_of("0123456789", 1) == std::string::npos);
    if (name.starts_with("-") && !explainNumber) {
      given.push_back(name == "-y" ? "--yes" : name == "-v" ? "--verbose" : name == "-q" ? "--quiet" : name);
    }

    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--version") {
      options.version = true;
    } else if (name == "--vid" || name == "--pid") {
      if (!StrictHexId(value)) {
        error = "option " + name + " needs 1 to 4 hexadecimal digits (an optional 0x before them), not \"" +
                value + "\"";
        return false;
      }
      (name == "--vid" ? options.vendorIdText : options.productIdText) = value;
    } else if (name == "--image") {
      options.imageFile = value;
    } else if (name == "--output") {
      options.outputFile = value;
    } else if (name == "--device") {
      options.devicePath = value;
    } else if (name == "--record") {
      options.recordFile = value;
    } else if (name == "--port") {
      options.ports.push_back(value);
    } else if (name == "--wait") {
      // The value may be left out: then only a number is taken as one (`--wait write` keeps its command).
      const std::optional<std::string> seconds = inlineValue ? inlineValue : reader.OptionalValue(Seconds);
      if (seconds && !Seconds(*seconds)) {
        error = "option --wait takes a whole number of seconds (0 to 99999)";
        return false;
      }
      options.waitSeconds = seconds ? static_cast<std::uint32_t>(std::stoul(*seconds)) : kDefaultWaitSeconds;
    } else if (name == "--watch") {
      options.watch = true;
    } else if (name == "--json") {
      options.json = true;
    } else if (name == "--quiet" || name == "-q") {
      options.quiet = true;
    } else if (name == "--verbose" || name == "-v") {
      options.verbose = true;
    } else if (name == "--evb-ids") {
      options.useEvbIds = true;
    } else if (name == "--yes" || name == "-y") {
      options.yes = true;
    } else if (name == "--replug-timeout") {
      if (!Seconds(value)) {
        error = "option --replug-timeout needs a whole number of seconds (0 to 99999)";
        return false;
      }
      options.replugTimeoutSeconds = static_cast<std::uint32_t>(std::stoul(value));
    } else if (name == "--trace") {
      options.traceFile = value;
    } else if (name == "--simulate") {
      // The value is optional, so only the "=" form gives one: `--simulate write` keeps its command.
      options.simulate = true;
      std::string simError;
      if (inlineValue && !ParseSimOptions(*inlineValue, options.sim, simError)) {
        error = "--simulate: " + simError;
        return false;
      }
    } else if (explainNumber) {
      if (options.explainNumber) {
        error = "unexpected argument " + name;
        return false;
      }
      options.explainNumber = name;
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
  if (options.help || options.version) return true;
  if (!commandGiven) {
    error = "no command given (write, erase, read, verify, info, station, probe, list or explain)";
    return false;
  }
  for (const std::string& option : given) {
    if (!OptionApplies(option, options.command)) {
      error = "option " + option + " does not apply to " + CommandName(options.command);
      return false;
    }
  }
  if (options.explainNumber && ExplainRows(*options.explainNumber).empty()) {
    error = "explain: no result is numbered \"" + *options.explainNumber +
            "\" (a box's -N, or an exit status; explain alone lists them all)";
    return false;
  }
  if (options.command == CliCommand::kRead && !options.outputFile) {
    error = "read needs --output FILE";
    return false;
  }
  if (options.outputFile && *options.outputFile == "-" && options.json) {
    error = "--output - and --json both want standard output";
    return false;
  }
  if (options.quiet && options.verbose) {
    error = "options --quiet and --verbose exclude each other";
    return false;
  }
  return true;
}

std::string UsageText() {
  return "Usage: kt7310-eeprom COMMAND [OPTIONS]\n"
         "Programs the configuration EEPROM of a KT7310 board over USB HID.\n"
         "\n"
         "Commands:\n"
         "  write        write the image (built-in or --image), read it back, verify it, write the header\n"
         "  erase        erase the EEPROM and ask for a re-plug\n"
         "  read         read EEPROM bytes 0..16399 into --output FILE; writes nothing to the board\n"
         "  verify       read the EEPROM and compare it with the image; writes nothing to the board\n"
         "  info         the device, chip ID and version, and the image's firmware version\n"
         "  station      write every attached board at once, each on a job of its own\n"
         "  probe        tell whether a blank board answers (0x3B7D:0x72F7 or 0x72F8)\n"
         "  list         list every HID interface with its port, vendor, product and report lengths\n"
         "  explain [N]  what a box's number (-N) or an exit status (N) means and what to do next;\n"
         "               every result without N\n"
         "\n"
         "Options:\n"
         "  --image FILE         the image to write or compare with instead of the built-in one (32784\n"
         "                       bytes, or the 16400 that read saves)\n"
         "  --evb-ids            patch the image's descriptors with the EVB IDs (3B7D:0001, 3B7D:0002),\n"
         "                       and look for the board under them too\n"
         "  --output FILE        read: where the bytes go (written beside, then renamed over FILE; - for\n"
         "                       standard output)\n"
         "  --device PATH|PORT   exactly this HID interface (a path as list prints it; no search by IDs),\n"
         "                       or the board at this port (as list and station print it), followed\n"
         "                       across its re-plug\n"
         "  --wait[=SECONDS]     wait for a board to answer at the job's IDs before the job (default 60)\n"
         "  --vid HEX            vendor ID to try first (1 to 4 hex digits, default 3B7D)\n"
         "  --pid HEX            product ID to try first (1 to 4 hex digits, default 7310)\n"
         "  --watch              station: keep going, writing each board as it is plugged in (Ctrl-C ends)\n"
         "  --record FILE        station: append one JSON line per board's result to FILE (synced)\n"
         "  --port PORT          station: only the board at PORT (repeat for more ports)\n"
         "  --json               one JSON object per line on stdout instead of the plain lines\n"
         "  -q, --quiet          boxes and errors only\n"
         "  -v, --verbose        one board's job: each step as it starts, with the time since the start\n"
         "  --simulate[=OPTS]    use the simulated board; OPTS is a comma-separated list, e.g.\n"
         "                       blank, virtual-time, chip-id=5, silent@N, unplug@N, manual-replug\n"
         "  --trace FILE         write every HID report to FILE\n"
         "  -y, --yes            go on after the re-plug message without waiting for Enter\n"
         "  --replug-timeout S   without a terminal or with --yes, wait at most S seconds (default 60)\n"
         "                       after the re-plug message for the board to leave and come back\n"
         "  -h, --help           show this text\n"
         "  --version            show the version\n"
         "\n"
         "Exit status (the first box that tells a result decides):\n"
         "  0      done (written, erased, read, verified, or the information shown)\n"
         "  1-13   the job failed with -N (\"Write to EEPROM Fail!  Try Again!(-N)\")\n"
         "  12     verify: the EEPROM differs from the image\n"
         "  20     invalid image (\"Error!! Invalid EEPROM FW Content!\")\n"
         "  21/22  no board found (\"USB deivce is NOT found!!(-1)\" / \"(-2)\")\n"
         "  23     the erase command did not go out (\"EEPROM Can't be Written!!(-1)\")\n"
         "  24     the board to erase could not be opened (\"EEPROM Can't be Written!!(-2)\" first)\n"
         "  25     the job told no result, or gave no sign of life within its bound\n"
         "  26     the board did not leave and come back after the erase within --replug-timeout\n"
         "  27     a stopped job stayed inside a device call; the process ended without it (station:\n"
         "         that board was given up, every other one ran to its end)\n"
         "  28     standard output could not be written (closed, full, its reader gone)\n"
         "  30     station: at least one board failed (21: no board at all)\n"
         "  31     station: a board's result could not be written to the --record file\n"
         "  64     usage error\n"
         "  130    stopped by Ctrl-C, SIGTERM or SIGHUP\n"
         "probe: 0 a blank board answers, 2 none does; list: 0 interfaces listed, 2 none (or no list).\n"
         "explain N tells what each of them means and what to do next.\n";
}

}  // namespace kt
