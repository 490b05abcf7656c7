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

// Where the first `tag` stands in the programmed part with all of its `record` bytes after it: "" when it
// does, else why not (missing, or lying where the board never gets it).
std::string TagInProgrammedPart(const ImageBytes& bytes, const TagName& tag, std::size_t record) {
  const auto at = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end());
  if (at == bytes.end()) return "no \"" + TagText(tag) + "\" tag";
  const auto offset = static_cast<std::size_t>(at - bytes.begin());
  if (offset + kTagLength + record <= kProgrammedLength) return std::string();
  char text[160];
  std::snprintf(text, sizeof(text),
                "\"%s\" and its %zu-byte record end at 0x%04zX, past the %u bytes that are programmed",
                TagText(tag).c_str(), record, offset + kTagLength + record,
                static_cast<unsigned>(kProgrammedLength));
  return text;
}

}  // namespace

std::string ImageRejection(const ImageBytes& bytes, bool evbIds) {
  JobImage scanned;
  std::copy(bytes.begin(), bytes.end(), scanned.imageBuffer.begin());
  if (ScanImageTags(scanned) != kSOk) {
    if (scanned.cidTagFound == 0) return "no \"" + TagText(kCidTag) + "\" tag";
    char text[96];
    std::snprintf(text, sizeof(text), "the byte after \"%s\" is 0x%02X, not 0x%02X ('.')",
                  TagText(kCidTag).c_str(), static_cast<unsigned>(scanned.cidByte),
                  static_cast<unsigned>(kAcceptedCidByte));
    return text;
  }
  // The scan looks at the whole buffer, but only the first 16,400 bytes reach the board: a tag beyond
  // them would pass here and be missing on every board written.
  std::string why = TagInProgrammedPart(bytes, kCidTag, 1);
  if (why.empty() && scanned.firmwareInfoFound != 0) {
    why = TagInProgrammedPart(bytes, kFirmwareInfoTag,
                              scanned.firmwareInfoBytes.size() + 2 * scanned.firmwareInfoWords.size());
  }
  // The EVB IDs are patched into both device descriptors; an image without them would go out unpatched.
  if (why.empty() && evbIds)
    why = TagInProgrammedPart(bytes, kHighSpeedDescriptorTag, kDeviceDescriptorLength);
  if (why.empty() && evbIds)
    why = TagInProgrammedPart(bytes, kFullSpeedDescriptorTag, kDeviceDescriptorLength);
  return why;
}

std::shared_ptr<const ImageBytes> LoadImageFile(const std::string& path, bool evbIds, std::string& why) {
  std::vector<std::uint8_t> read;
  if (!ReadRegularFile(path, kImageSize, read, why)) return nullptr;
  // A dump as `read` saves it is the programmed part alone. Nothing past that part is ever written to a
  // board or compared with one, so a dump stands for the whole image with zeros after it.
  if (read.size() != kImageSize && read.size() != kProgrammedLength) {
    why = path + ": " +
          (read.size() > kImageSize ? "more than " + std::to_string(kImageSize) + " bytes"
                                    : std::to_string(read.size()) + " bytes") +
          ", an image has exactly " + std::to_string(kImageSize) + ", or " +
          std::to_string(kProgrammedLength) + " as read saves it";
    return nullptr;
  }
  auto bytes = std::make_shared<ImageBytes>();  // zeroed: the rest of a dump
  std::copy(read.begin(), read.end(), bytes->begin());
  if (std::string rejection = ImageRejection(*bytes, evbIds); !rejection.empty()) {
    why = path + ": " + rejection;
    return nullptr;
  }
  return bytes;
}

}  // namespace kt
