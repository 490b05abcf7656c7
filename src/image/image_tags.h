#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "image/job_image.h"

namespace kt {

// A tag as it stands in an image: eight ASCII bytes, no terminator.
using TagName = std::array<std::uint8_t, kTagLength>;

consteval TagName MakeTagName(const char (&text)[kTagLength + 1]) {
  TagName name{};
  for (std::size_t i = 0; i < kTagLength; ++i) name[i] = static_cast<std::uint8_t>(text[i]);
  return name;
}

inline constexpr TagName kFirmwareInfoTag = MakeTagName("KTFwLTag");
inline constexpr TagName kCidTag = MakeTagName("KTCIdTag");
inline constexpr TagName kHighSpeedDescriptorTag = MakeTagName("KTHsDTag");
inline constexpr TagName kFullSpeedDescriptorTag = MakeTagName("KTFsDTag");

// The first byte of the CId record an image must carry to be programmed.
inline constexpr std::uint8_t kAcceptedCidByte = 0x2E;  // '.'

// The IDs check box 1012 writes into the two device descriptors.
inline constexpr std::uint16_t kEvbVendorId = 0x3B7D;
inline constexpr std::uint16_t kEvbHighSpeedProductId = 0x0001;
inline constexpr std::uint16_t kEvbFullSpeedProductId = 0x0002;

}  // namespace kt
