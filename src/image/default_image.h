#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kt {

inline constexpr std::size_t kImageSize = 32784;  // 0x8010

// The EEPROM image the tool carries, built into the program from src/image/default_image.bin.
extern const std::array<std::uint8_t, kImageSize> defaultImage;

}  // namespace kt
