#include "hid/sim/sim_options.h"

#include <charconv>
#include <limits>

namespace kt {
namespace {

std::string_view Trim(std::string_view text) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Decimal, or hexadecimal with a 0x prefix; the whole text must be the number and within [low, high].
bool ParseNumber(std::string_view text, std::uint64_t low, std::uint64_t high, std::uint64_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (value < low || value > high) return false;
  out = value;
  return true;
}

constexpr std::uint64_t kMaxRequest = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMaxStrayCount = 100000;
constexpr std::uint64_t kMaxLatencyMs = 60000;
constexpr std::uint64_t kMaxBoards = 64;

void AppendItem(std::string& items, std::string_view item) {
  if (!items.empty()) items += ',';
  items += item;
}

class OptionParser {
 public:
  explicit OptionParser(SimOptions& options) : options_(options) {}

  // Empty on success, else what is wrong with `item` (the caller names the item).
  std::string Apply(std::string_view item) {
    const std::size_t cut = item.find_first_of("@=");
    const std::string_view name = item.substr(0, cut);
    const bool hasValue = cut != std::string_view::npos;
    const char separator = hasValue ? item[cut] : '\0';
    const std::string_view value = hasValue ? item.substr(cut + 1) : std::string_view();

    if (!hasValue) return ApplyFlag(name);
    if (separator == '@') return ApplyFault(name, value);
    return ApplySetting(name, value);
  }

  std::string Finish() const {
    if (sawBlank_ && sawProgrammed_) return "\"blank\" and \"programmed\" contradict each other";
    return {};
  }

 private:
  std::string ApplyFlag(std::string_view name) {
    if (name == "blank") {
      sawBlank_ = true;
      options_.start = SimOptions::StartState::kBlank;
    } else if (name == "programmed") {
      sawProgrammed_ = true;
      options_.start = SimOptions::StartState::kProgrammed;
    } else if (name == "wp-stuck") {
      options_.wpStuck = true;
    } else if (name == "manual-replug") {
      options_.manualReplug = true;
    } else if (name == "virtual-time") {
      options_.virtualTime = true;
    } else if (IsFault(name) || IsSetting(name)) {
      return "needs a value";
    } else {
      return "unknown option";
    }
    return {};
  }

  static bool IsFault(std::string_view name) {
    return name == "silent" || name == "stray" || name == "short" || name == "badlen" || name == "flip" ||
           name == "lie" || name == "unplug" || name == "hang" || name == "wedge";
  }
  static bool IsSetting(std::string_view name) {
    return name == "chip-id" || name == "chip-version" || name == "latency" || name == "eeprom" ||
           name == "boards";
  }

  std::string ApplyFault(std::string_view name, std::string_view value) {
    std::uint64_t n = 0;
    if (name == "stray" || name == "flip") {
      const std::size_t colon = value.find(':');
      if (colon == std::string_view::npos) {
        return name == "stray" ? "expects stray@N:K" : "expects flip@ADDR:BIT";
      }
      std::uint64_t second = 0;
      if (name == "stray") {
        if (!ParseNumber(value.substr(0, colon), 1, kMaxRequest, n))
          return "N must be a request number from 1";
        if (!ParseNumber(value.substr(colon + 1), 1, kMaxStrayCount, second)) {
          return "K must be a count from 1 to " + std::to_string(kMaxStrayCount);
        }
        options_.stray.push_back({static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(second)});
      } else {
        if (!ParseNumber(value.substr(0, colon), 0, 0xFFFF, n))
          return "ADDR must be an address from 0 to 0xFFFF";
        if (!ParseNumber(value.substr(colon + 1), 0, 7, second)) return "BIT must be 0 to 7";
        options_.flip.push_back({static_cast<std::uint16_t>(n), static_cast<std::uint8_t>(second)});
      }
      return {};
    }
    if (name == "lie") {
      if (!ParseNumber(value, 0, 0xFFFF, n)) return "ADDR must be an address from 0 to 0xFFFF";
      options_.lie.push_back(static_cast<std::uint16_t>(n));
      return {};
    }
    std::vector<std::uint32_t>* list = nullptr;
    if (name == "silent") list = &options_.silent;
    if (name == "short") list = &options_.shortAnswer;
    if (name == "badlen") list = &options_.badLength;
    if (name == "unplug") list = &options_.unplug;
    if (name == "hang") list = &options_.hang;
    if (name == "wedge") list = &options_.wedge;
    if (list == nullptr)
      return IsSetting(name) ? "expects " + std::string(name) + "=VALUE" : "unknown option";
    if (!ParseNumber(value, 1, kMaxRequest, n)) return "N must be a request number from 1";
    list->push_back(static_cast<std::uint32_t>(n));
    return {};
  }

  std::string ApplySetting(std::string_view name, std::string_view value) {
    std::uint64_t n = 0;
    if (name == "chip-id") {
      if (!ParseNumber(value, 0, 0xFF, n)) return "V must be 0 to 255";
      options_.chipId = static_cast<std::uint8_t>(n);
    } else if (name == "chip-version") {
      if (!ParseNumber(value, 0, 0xFFFF, n)) return "V must be 0 to 0xFFFF";
      options_.chipVersion = static_cast<std::uint16_t>(n);
    } else if (name == "latency") {
      if (!ParseNumber(value, 0, kMaxLatencyMs, n)) return "MS must be 0 to " + std::to_string(kMaxLatencyMs);
      options_.latencyMs = static_cast<std::uint32_t>(n);
    } else if (name == "eeprom") {
      if (value.empty()) return "needs a file name";
      options_.eepromFile = std::string(value);
    } else if (name == "boards") {
      if (!ParseNumber(value, 1, kMaxBoards, n)) return "N must be 1 to " + std::to_string(kMaxBoards);
      options_.boards = static_cast<std::uint32_t>(n);
    } else if (IsFault(name)) {
      return "expects " + std::string(name) + "@...";
    } else {
      return "unknown option";
    }
    return {};
  }

  SimOptions& options_;
  bool sawBlank_ = false;
  bool sawProgrammed_ = false;
};

}  // namespace

bool ParseSimOptions(std::string_view text, SimOptions& out, std::string& error) {
  SimOptions options;
  OptionParser parser(options);
  if (!Trim(text).empty()) {
    while (true) {
      const std::size_t comma = text.find(',');
      const std::string_view item = Trim(text.substr(0, comma));
      if (item.empty()) {
        error = "empty option in the simulation options";
        return false;
      }
      std::string problem;
      if (item.starts_with("board") && item.find('.') != std::string_view::npos) {
        // boardK.OPTION: checked now on a scratch set, applied per board by SimOptionsForBoard.
        const std::size_t dot = item.find('.');
        std::uint64_t board = 0;
        SimOptions scratch;
        if (!ParseNumber(item.substr(5, dot - 5), 1, kMaxBoards, board)) {
          problem = "K in boardK. must be 1 to " + std::to_string(kMaxBoards);
        } else if (item.substr(dot + 1).starts_with("boards=")) {
          problem = "boards= is the station's, not a board's";
        } else {
          problem = OptionParser(scratch).Apply(item.substr(dot + 1));
          if (problem.empty())
            AppendItem(options.boardItems[static_cast<std::uint32_t>(board)], item.substr(dot + 1));
        }
      } else {
        problem = parser.Apply(item);
        if (problem.empty() && !item.starts_with("boards=")) AppendItem(options.sharedItems, item);
      }
      if (!problem.empty()) {
        error = "bad simulation option \"" + std::string(item) + "\": " + problem;
        return false;
      }
      if (comma == std::string_view::npos) break;
      text.remove_prefix(comma + 1);
    }
  }
  if (const std::string problem = parser.Finish(); !problem.empty()) {
    error = "bad simulation options: " + problem;
    return false;
  }
  if (!options.boardItems.empty() && options.boardItems.rbegin()->first > options.boards) {
    error = "bad simulation options: board" + std::to_string(options.boardItems.rbegin()->first) +
            ". names a board beyond boards=" + std::to_string(options.boards);
    return false;
  }
  out = std::move(options);
  return true;
}

SimOptions SimOptionsForBoard(const SimOptions& station, std::uint32_t board) {
  SimOptions options;
  OptionParser parser(options);
  // Every item was checked when the station's options were parsed. A board's own start state replaces
  // the shared one rather than contradicting it.
  const auto applyAll = [&parser](std::string_view items) {
    while (!items.empty()) {
      const std::size_t comma = items.find(',');
      parser.Apply(items.substr(0, comma));
      if (comma == std::string_view::npos) break;
      items.remove_prefix(comma + 1);
    }
  };
  applyAll(station.sharedItems);
  const auto own = station.boardItems.find(board);
  if (own != station.boardItems.end()) applyAll(own->second);
  return options;
}

}  // namespace kt
