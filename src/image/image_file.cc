#include "image/image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

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
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    why = path + ": cannot be read (" + std::strerror(errno) + ")";
    return nullptr;
  }
  auto bytes = std::make_shared<ImageBytes>();
  file.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
  std::size_t size = static_cast<std::size_t>(file.gcount());
  if (file.bad()) {
    why = path + ": cannot be read";
    return nullptr;
  }
  if (size == bytes->size()) {
    // Count what lies beyond, to say how large a file that is too long really is.
    file.clear();
    char rest[4096];
    while (file.read(rest, sizeof(rest)) || file.gcount() > 0)
      size += static_cast<std::size_t>(file.gcount());
  }
  if (size != kImageSize) {
    why = path + ": " + std::to_string(size) + " bytes, an image has exactly " + std::to_string(kImageSize);
    return nullptr;
  }
  if (std::string rejection = ImageRejection(*bytes); !rejection.empty()) {
    why = path + ": " + rejection;
    return nullptr;
  }
  return bytes;
}

}  // namespace kt
