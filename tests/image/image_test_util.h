#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "image/default_image.h"

namespace kt::test {

inline std::uint16_t Le16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

inline std::uint32_t Le32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0] | at[1] << 8 | at[2] << 16) | static_cast<std::uint32_t>(at[3])
                                                                            << 24;
}

// Image offsets of the records the default image carries (the byte after each tag).
inline constexpr std::size_t kFirmwareInfoRecord = 4621;
inline constexpr std::size_t kHighSpeedSet = 4691;
inline constexpr std::size_t kFullSpeedSet = 5495;
inline constexpr std::size_t kStringRecord = 6237;
inline constexpr std::size_t kHidReportRecord = 6811;
inline constexpr std::size_t kEp2Record = 6934;
inline constexpr std::size_t kEp3Record = 7084;
inline constexpr std::size_t kIapRecord = 7914;

inline const std::uint8_t* DefaultImageAt(std::size_t offset) {
  return defaultImage.data() + offset;
}

// The text of string descriptor n (1 to 7) of the default image, ASCII only, padding dropped.
inline std::string DefaultImageString(int n) {
  const std::uint8_t* slot = DefaultImageAt(kStringRecord + 4 + 78 * static_cast<std::size_t>(n - 1));
  std::string text;
  for (std::size_t unit = 0; unit < 38 && Le16(slot + 2 + 2 * unit) != 0; ++unit) {
    text += static_cast<char>(Le16(slot + 2 + 2 * unit));
  }
  return text;
}

}  // namespace kt::test
