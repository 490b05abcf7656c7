#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "image/default_image.h"

namespace kt {

using ImageBytes = std::array<std::uint8_t, kImageSize>;

// A USB device descriptor's length: what follows "KTHsDTag" and "KTFsDTag".
inline constexpr std::size_t kDeviceDescriptorLength = 18;

// Why `bytes` would not be programmed, or empty when it would: the tag scan's verdict in words (the
// missing tag or the byte after "KTCIdTag"), then "KTCIdTag" and "KTFwLTag" with their records outside
// the programmed part, and with `evbIds` the two descriptor tags missing or outside it.
std::string ImageRejection(const ImageBytes& bytes, bool evbIds);

// Reads an image file: a regular file of exactly kImageSize bytes, or of kProgrammedLength bytes (a dump
// as `read` saves it, taken as the image's first bytes with zeros after them), that ImageRejection
// accepts (never more than one byte past kImageSize is read). Null with `why` set (the path, and the size
// found or the verdict) when the file cannot be read or is not such an image.
std::shared_ptr<const ImageBytes> LoadImageFile(const std::string& path, bool evbIds, std::string& why);

}  // namespace kt
