#include "app/station_window/slots_file.h"

#include <cstdint>
#include <set>
#include <sstream>

#include "base/regular_file.h"

namespace kt {
namespace {

constexpr std::size_t kSlotsFileLimit = 64 * 1024;
constexpr const char* kBlanks = " \t\r";

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

bool ParseSlots(const std::string& text, std::vector<Slot>& slots, std::string& error) {
  std::istringstream in(text);
  std::string line;
  std::set<std::string> ports;
  std::vector<Slot> found;
  for (int number = 1; std::getline(in, line); ++number) {
    line = Trimmed(line);
    if (line.empty() || line[0] == '#') continue;
    const auto where = [number] { return "line " + std::to_string(number) + ": "; };
    const std::size_t gap = line.find_first_of(kBlanks);
    const std::string label = gap == std::string::npos ? "" : Trimmed(line.substr(gap));
    if (label.empty()) {
      error = where() + "a port without a label (lines are PORT LABEL)";
      return false;
    }
    const std::string port = line.substr(0, gap);
    if (!ports.insert(port).second) {
      error = where() + "port " + port + " is named twice";
      return false;
    }
    if (found.size() == kMaxSlots) {
      error = where() + "more than " + std::to_string(kMaxSlots) + " slots";
      return false;
    }
    found.emplace_back(port, label);
  }
  slots = std::move(found);
  return true;
}

bool ReadSlotsFile(const std::string& path, std::vector<Slot>& slots, std::string& error) {
  std::vector<std::uint8_t> bytes;
  if (!ReadRegularFile(path, kSlotsFileLimit, bytes, error)) return false;
  if (bytes.size() > kSlotsFileLimit) {
    error = path + ": longer than " + std::to_string(kSlotsFileLimit) + " bytes";
    return false;
  }
  if (!ParseSlots(std::string(bytes.begin(), bytes.end()), slots, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace kt
