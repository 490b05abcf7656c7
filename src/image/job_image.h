#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/hresult.h"
#include "image/default_image.h"

namespace kt {

inline constexpr std::size_t kImageBufferSize = 32816;  // image plus a 32-byte zero tail
inline constexpr std::uint16_t kProgrammedLength = 16400;
inline constexpr std::size_t kTagLength = 8;

// The image of one write job and what the tag scan found in it. The dialog owns one for the whole run.
struct JobImage {
  std::array<std::uint8_t, kImageBufferSize> imageBuffer{};
  std::array<std::uint8_t, kImageBufferSize> readbackBuffer{};
  std::uint16_t imageLength = 0;

  std::int32_t firmwareInfoFound = 0;
  std::array<std::uint8_t, 6> firmwareInfoBytes{};
  std::array<std::uint16_t, 8> firmwareInfoWords{};
  std::uint16_t firmwareVersion = 0;
  std::int32_t cidTagFound = 0;
  std::uint8_t cidByte = 0;
};

// Fills imageBuffer from `source` (the built-in defaultImage when null); patches the two device
// descriptors when `useEvbIds` (check box 1012). `beforeCopy`, when given, runs between setting
// imageLength and the copy (the progress reset).
void LoadJobImage(JobImage& image, bool useEvbIds, const std::function<void()>& beforeCopy = {},
                  const std::array<std::uint8_t, kImageSize>* source = nullptr);
HResult ScanImageTags(JobImage& image);
HResult FindTag(const std::uint8_t* buffer, const std::uint8_t* name, std::uint32_t nameLength,
                std::uint32_t* offset);
HResult PatchHighSpeedDescriptor(std::uint8_t* buffer);
HResult PatchFullSpeedDescriptor(std::uint8_t* buffer);

}  // namespace kt
