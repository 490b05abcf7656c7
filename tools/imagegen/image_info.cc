// kt7310-image-info: loads the built-in EEPROM image as a write job would and prints what the tool
// reads from it.
#include <cstdio>
#include <cstring>
#include <memory>

#include "image/job_image.h"

int main() {
  auto image = std::make_unique<kt::JobImage>();
  kt::LoadJobImage(*image, false);
  const kt::HResult scan = kt::ScanImageTags(*image);

  std::printf("image size:         %zu bytes\n", kt::kImageSize);
  std::printf("programmed length:  %u bytes\n", static_cast<unsigned>(image->imageLength));
  if (image->firmwareInfoFound) {
    std::printf("firmware version:   0x%04X\n", static_cast<unsigned>(image->firmwareVersion));
  } else {
    std::printf("firmware version:   (no firmware-info tag)\n");
  }
  if (image->cidTagFound) {
    std::printf("CId byte:           0x%02X\n", static_cast<unsigned>(image->cidByte));
  }
  std::printf("tag scan:           %s\n", scan == kt::kSOk ? "accepted" : "refused");

  static const char* const kTags[] = {"KTFwLTag", "KTCIdTag", "KTHsDTag", "KTFsDTag", "KTStrTag", "KTHIDTag",
                                      "KTEp2Tag", "KTEp3Tag", "KTVolTag", "KTCurTag", "KTiAPTag", "KTVfyTag"};
  for (const char* tag : kTags) {
    std::uint32_t offset = 0;
    const auto* name = reinterpret_cast<const std::uint8_t*>(tag);
    if (kt::FindTag(image->imageBuffer.data(), name, static_cast<std::uint32_t>(std::strlen(tag)), &offset) ==
        kt::kSOk) {
      std::printf("%s           %u\n", tag, static_cast<unsigned>(offset));
    } else {
      std::printf("%s           (missing)\n", tag);
    }
  }
  return scan == kt::kSOk ? 0 : 1;
}
