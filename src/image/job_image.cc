#include "image/job_image.h"

#include <algorithm>

namespace kt {

void LoadJobImage(JobImage& image, bool useEvbIds, const std::function<void()>& beforeCopy,
                  const std::array<std::uint8_t, kImageSize>* source) {
  image.imageBuffer.fill(0);
  image.imageLength = kProgrammedLength;
  if (beforeCopy) beforeCopy();
  const std::array<std::uint8_t, kImageSize>& bytes = source != nullptr ? *source : defaultImage;
  std::copy(bytes.begin(), bytes.end(), image.imageBuffer.begin());
  if (useEvbIds) {
    // An image without one of the tags is simply left unpatched there; the job goes on.
    PatchHighSpeedDescriptor(image.imageBuffer.data());
    PatchFullSpeedDescriptor(image.imageBuffer.data());
  }
}

}  // namespace kt
