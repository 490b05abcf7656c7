#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kt {

// The one option the window program knows: `--simulate` or `--simulate=OPTIONS` runs it against the
// simulated board. Gives the option text ("" for the bare form), or nothing when it is absent; every
// other argument is ignored, as the program has always ignored its command line.
std::optional<std::string> FindSimulateOption(const std::vector<std::string>& args);

}  // namespace kt
