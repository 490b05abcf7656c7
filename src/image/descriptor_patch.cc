#include "image/image_tags.h"
#include "image/job_image.h"

namespace kt {
namespace {

constexpr std::size_t kIdVendorOffset = 8;
constexpr std::size_t kIdProductOffset = 10;

void WriteLe16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value & 0xFF);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

HResult PatchDeviceIds(std::uint8_t* buffer, const TagName& tag, std::uint16_t productId) {
  if (buffer == nullptr) return kEFail;
  std::uint32_t tagPos = 0;
  if (FindTag(buffer, tag.data(), static_cast<std::uint32_t>(tag.size()), &tagPos) != kSOk) return kEFail;
  const std::size_t descriptor = tagPos + kTagLength;
  // A tag too close to the image's end has no room for the IDs: writing them would land in the zero
  // tail (which is then no longer zero) or past the end of a buffer that holds only the image.
  if (descriptor + kIdProductOffset + 2 > kImageSize) return kEFail;
  WriteLe16(buffer + descriptor + kIdVendorOffset, kEvbVendorId);
  WriteLe16(buffer + descriptor + kIdProductOffset, productId);
  return kSOk;
}

}  // namespace

HResult PatchHighSpeedDescriptor(std::uint8_t* buffer) {
  return PatchDeviceIds(buffer, kHighSpeedDescriptorTag, kEvbHighSpeedProductId);
}

HResult PatchFullSpeedDescriptor(std::uint8_t* buffer) {
  return PatchDeviceIds(buffer, kFullSpeedDescriptorTag, kEvbFullSpeedProductId);
}

}  // namespace kt
