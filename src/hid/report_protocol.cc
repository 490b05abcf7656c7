#include "hid/report_protocol.h"

namespace kt {

std::uint8_t AdvanceBlockTag(std::uint8_t tag) { return tag < 252 ? static_cast<std::uint8_t>(tag + 1) : 1; }

std::uint8_t AdvanceRegisterTag(std::uint8_t tag) { return tag < 240 ? static_cast<std::uint8_t>(tag + 1) : 1; }

}  // namespace kt
