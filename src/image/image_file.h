#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "image/default_image.h"

namespace kt {

using ImageBytes = std::array<std::uint8_t, kImageSize>;

// Why `bytes` would not be programmed (the tag scan's verdict, in words: the missing tag or the byte
// after "KTCIdTag"), or empty when the scan accepts it.
std::string ImageRejection(const ImageBytes& bytes);

// Reads an image file: exactly kImageSize bytes that pass the tag scan. Null with `why` set (the path,
// and the size found or the scan's verdict) when the file cannot be read or is not such an image.
std::shared_ptr<const ImageBytes> LoadImageFile(const std::string& path, std::string& why);

}  // namespace kt
