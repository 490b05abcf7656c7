#include "image/image_file.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "base/regular_file.h"
#include "image/image_tags.h"
#include "image/job_image.h"

namespace kt {
namespace {

std::string TagText(const TagName& tag) {
  return std::string(tag.begin(), tag.end());
}

}  // namespace

std::string ImageRejection(const ImageBytes& bytes) {
  JobImage scanned;
  std::copy(bytes.begin(), bytes.end(), scanned.imageBuffer.begin());
  if (ScanImageTags(scanned) == kSOk) return std::string();
  if (scanned.cidTagFound == 0) return "no \"" + TagText(kCidTag) + "\" tag";
  char text[96];
  std::snprintf(text, sizeof(text), "the byte after \"%s\" is 0x%02X, not 0x%02X ('.')",
                TagText(kCidTag).c_str(), static_cast<unsigned>(scanned.cidByte),
                static_cast<unsigned>(kAcceptedCidByte));
  return text;
}

std::shared_ptr<const ImageBytes> LoadImageFile(const std::string& path, std::string& why) {
  // One byte more than an image tells a file that is too long without reading all of it.
  std::vector<std::uint8_t> read;
  if (!ReadRegularFile(path, kImageSize, read, why)) return nullptr;
  if (read.size() != kImageSize) {
    const std::string found =
        read.size() > kImageSize ? "more than " + std::to_string(kImageSize) : std::to_string(read.size());
    why = path + ": " + found + " bytes, an image has exactly " + std::to_string(kImageSize);
    return nullptr;
  }
  auto bytes = std::make_shared<ImageBytes>();
  std::copy(read.begin(), read.end(), bytes->begin());
  if (std::string rejection = ImageRejection(*bytes); !rejection.empty()) {
    why = path + ": " + rejection;
    return nullptr;
  }
  return bytes;
}

}  // namespace kt
