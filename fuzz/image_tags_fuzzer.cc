// Runs the tag scanner, the tag search and the two descriptor patches over arbitrary image contents:
// an image file may come from anywhere.
//
// Input layout:
//   byte 0, 1   where the payload goes in the image (little-endian, taken modulo the buffer size)
//   byte 2      bit 0: repeat the payload over the whole image; bits 1..4: length of the search name
//               (up to 15: tag names are 8 bytes; a longer name finds nothing new)
//   then        the search name, then the payload
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "image/image_tags.h"
#include "image/job_image.h"

namespace {

// The first place `name` occurs wholly inside the image, or -1.
long FirstOccurrence(const std::uint8_t* image, const std::uint8_t* name, std::size_t length) {
  const std::uint8_t* end = image + kt::kImageSize;
  const std::uint8_t* at = std::search(image, end, name, name + length);
  return at == end ? -1 : static_cast<long>(at - image);
}

// Patches a copy that holds exactly the image, so a write past it shows up under ASan, and checks that
// only the two ID words after the tag changed, and only on success.
void CheckPatch(const std::uint8_t* image, kt::HResult (*patch)(std::uint8_t*), const kt::TagName& tag) {
  std::vector<std::uint8_t> copy(image, image + kt::kImageSize);
  const kt::HResult result = patch(copy.data());
  const long at = FirstOccurrence(image, tag.data(), tag.size());
  if (result != kt::kSOk) {
    if (!std::equal(copy.begin(), copy.end(), image)) __builtin_trap();
    return;
  }
  if (at < 0) __builtin_trap();
  const std::size_t ids = static_cast<std::size_t>(at) + kt::kTagLength + 8;
  if (ids + 4 > kt::kImageSize) __builtin_trap();
  for (std::size_t i = 0; i < kt::kImageSize; ++i) {
    if ((i < ids || i >= ids + 4) && copy[i] != image[i]) __builtin_trap();
  }
  if (copy[ids] != (kt::kEvbVendorId & 0xFF) || copy[ids + 1] != (kt::kEvbVendorId >> 8)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t position = static_cast<std::size_t>(data[0] | (data[1] << 8)) % kt::kImageBufferSize;
  const bool repeat = (data[2] & 1) != 0;
  const std::size_t nameLength = std::min<std::size_t>((data[2] >> 1) & 0xF, size - 3);
  const std::uint8_t* nameBytes = data + 3;
  const std::uint8_t* payload = nameBytes + nameLength;
  const std::size_t payloadLength = size - 3 - nameLength;

  auto image = std::make_unique<kt::JobImage>();
  std::uint8_t* buffer = image->imageBuffer.data();
  if (payloadLength != 0) {
    if (repeat) {
      for (std::size_t i = 0; i < kt::kImageBufferSize; ++i)
        buffer[i] = payload[(i + position) % payloadLength];
    } else {
      std::memcpy(buffer + position, payload, std::min(payloadLength, kt::kImageBufferSize - position));
    }
  }
  const std::vector<std::uint8_t> before(image->imageBuffer.begin(), image->imageBuffer.end());

  // The scan must not depend on what lies past the image, and must not change the image.
  const kt::HResult scanned = kt::ScanImageTags(*image);
  if (!std::equal(before.begin(), before.end(), image->imageBuffer.begin())) __builtin_trap();
  const long cid = FirstOccurrence(buffer, kt::kCidTag.data(), kt::kTagLength);
  if ((image->cidTagFound == 1) != (cid >= 0)) __builtin_trap();
  if ((image->firmwareInfoFound == 1) !=
      (FirstOccurrence(buffer, kt::kFirmwareInfoTag.data(), kt::kTagLength) >= 0)) {
    __builtin_trap();
  }
  const bool accepted = cid >= 0 && image->cidByte == kt::kAcceptedCidByte;
  if ((scanned == kt::kSOk) != accepted) __builtin_trap();
  if (cid >= 0) {
    const std::size_t cidByteAt = static_cast<std::size_t>(cid) + kt::kTagLength;
    const std::uint8_t expected = cidByteAt < kt::kImageSize ? buffer[cidByteAt] : 0;
    if (image->cidByte != expected) __builtin_trap();
  }

  // FindTag over a buffer that holds exactly the image, with a name of exactly its own length.
  const std::vector<std::uint8_t> exact(buffer, buffer + kt::kImageSize);
  const std::vector<std::uint8_t> name(nameBytes, nameBytes + nameLength);
  std::uint32_t offset = 0xFFFFFFFF;
  const kt::HResult found = kt::FindTag(exact.data(), name.empty() ? exact.data() : name.data(),
                                        static_cast<std::uint32_t>(name.size()), &offset);
  if (name.empty()) {
    if (found != kt::kSOk || offset != 0) __builtin_trap();
  } else {
    const long first = FirstOccurrence(exact.data(), name.data(), name.size());
    if ((found == kt::kSOk) != (first >= 0)) __builtin_trap();
    if (found == kt::kSOk && offset != static_cast<std::uint32_t>(first)) __builtin_trap();
  }

  CheckPatch(buffer, kt::PatchHighSpeedDescriptor, kt::kHighSpeedDescriptorTag);
  CheckPatch(buffer, kt::PatchFullSpeedDescriptor, kt::kFullSpeedDescriptorTag);
  return 0;
}
