#pragma once

#include <cstdint>
#include <span>

namespace kt {

// The product ID a board with this EEPROM enumerates under when it is plugged in: the blank ID while the
// header (bytes 0..7) is all 0x00 or all 0xFF, else the idProduct of the high-speed device descriptor
// that follows "KTHsDTag" (blank when there is none). A job cut short before the header is written
// therefore leaves a board that boots blank.
std::uint16_t EnumeratedProductId(std::span<const std::uint8_t> eeprom);

}  // namespace kt
