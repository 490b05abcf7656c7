#include "app/window_command_line.h"

namespace kt {

std::optional<std::string> FindSimulateOption(const std::vector<std::string>& args) {
  static const std::string kOption = "--simulate";
  std::optional<std::string> found;
  for (const std::string& arg : args) {
    if (arg == kOption) {
      found = std::string();
    } else if (arg.size() > kOption.size() && arg.compare(0, kOption.size(), kOption) == 0 &&
               arg[kOption.size()] == '=') {
      found = arg.substr(kOption.size() + 1);  // the last one counts, as for the options inside it
    }
  }
  return found;
}

}  // namespace kt
