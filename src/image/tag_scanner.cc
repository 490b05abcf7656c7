#include <cstring>

#include "image/image_tags.h"
#include "image/job_image.h"

namespace kt {
namespace {

// Only positions where all eight bytes lie inside the image can hold a tag, whatever follows the image
// in the buffer.
bool TagAt(const std::uint8_t* image, std::size_t pos, const TagName& tag) {
  return pos + kTagLength <= kImageSize && std::memcmp(image + pos, tag.data(), kTagLength) == 0;
}

// A record cut off by the image's end reads as zeros, so the scan never depends on the buffer tail.
std::uint8_t ImageByteOrZero(const std::uint8_t* image, std::size_t pos) {
  return pos < kImageSize ? image[pos] : 0;
}

void ReadFirmwareInfo(JobImage& image, std::size_t tagPos) {
  const std::uint8_t* bytes = image.imageBuffer.data();
  for (std::size_t k = 0; k < image.firmwareInfoBytes.size(); ++k) {
    image.firmwareInfoBytes[k] = ImageByteOrZero(bytes, tagPos + kTagLength + k);
  }
  const std::size_t wordsPos = tagPos + kTagLength + image.firmwareInfoBytes.size();
  for (std::size_t k = 0; k < image.firmwareInfoWords.size(); ++k) {
    const std::uint8_t low = ImageByteOrZero(bytes, wordsPos + 2 * k);
    const std::uint8_t high = ImageByteOrZero(bytes, wordsPos + 2 * k + 1);
    image.firmwareInfoWords[k] = static_cast<std::uint16_t>(low | (high << 8));
  }
  image.firmwareVersion = image.firmwareInfoWords.back();
}

}  // namespace

HResult ScanImageTags(JobImage& image) {
  image.firmwareInfoFound = 0;
  image.cidTagFound = 0;
  const std::uint8_t* bytes = image.imageBuffer.data();
  for (std::size_t i = 0; i + kTagLength <= kImageSize; ++i) {
    // First occurrence wins for each tag; both are tried at every position, so their order is free.
    if (image.firmwareInfoFound == 0 && TagAt(bytes, i, kFirmwareInfoTag)) {
      image.firmwareInfoFound = 1;
      ReadFirmwareInfo(image, i);
    }
    if (image.cidTagFound == 0 && TagAt(bytes, i, kCidTag)) {
      image.cidTagFound = 1;
      image.cidByte = ImageByteOrZero(bytes, i + kTagLength);
    }
  }
  return image.cidTagFound == 1 && image.cidByte == kAcceptedCidByte ? kSOk : kEFail;
}

HResult FindTag(const std::uint8_t* buffer, const std::uint8_t* name, std::uint32_t nameLength,
                std::uint32_t* offset) {
  // A null buffer is refused as well: nothing good comes of searching it.
  if (name == nullptr || offset == nullptr || buffer == nullptr) return kEFail;
  *offset = 0;
  if (nameLength == 0) return kSOk;
  if (nameLength > kImageSize) return kEFail;
  for (std::uint32_t p = 0; p + nameLength <= kImageSize; ++p) {
    if (std::memcmp(buffer + p, name, nameLength) == 0) {
      *offset = p;
      return kSOk;
    }
  }
  return kEFail;
}

}  // namespace kt
