#include "image/job_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "image/image_tags.h"
#include "image/image_test_util.h"

namespace kt {
namespace {

constexpr std::size_t kHsIds = test::kHighSpeedSet + 8;  // image bytes 4,699 to 4,702
constexpr std::size_t kFsIds = test::kFullSpeedSet + 8;  // image bytes 5,503 to 5,506

TEST(JobImageTest, LoadClearsTailAndRunsCallbackBeforeCopy) {
  auto image = std::make_unique<JobImage>();
  image->imageBuffer.fill(0xAA);
  int calls = 0;
  LoadJobImage(*image, false, [&] {
    ++calls;
    EXPECT_EQ(image->imageLength, kProgrammedLength);
    EXPECT_TRUE(
        std::all_of(image->imageBuffer.begin(), image->imageBuffer.end(), [](auto b) { return b == 0; }));
  });
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(std::equal(defaultImage.begin(), defaultImage.end(), image->imageBuffer.begin()))
      << "unchecked, the image is loaded byte for byte";
  EXPECT_TRUE(std::all_of(image->imageBuffer.begin() + kImageSize, image->imageBuffer.end(),
                          [](auto b) { return b == 0; }));
}

TEST(JobImageTest, EvbIdsPatchOnlyTheTwoDeviceDescriptors) {
  auto image = std::make_unique<JobImage>();
  LoadJobImage(*image, true);
  const std::uint8_t hs[] = {0x7D, 0x3B, 0x01, 0x00};
  const std::uint8_t fs[] = {0x7D, 0x3B, 0x02, 0x00};
  EXPECT_EQ(std::memcmp(image->imageBuffer.data() + kHsIds, hs, 4), 0);
  EXPECT_EQ(std::memcmp(image->imageBuffer.data() + kFsIds, fs, 4), 0);
  for (std::size_t i = 0; i < kImageBufferSize; ++i) {
    if ((i >= kHsIds && i < kHsIds + 4) || (i >= kFsIds && i < kFsIds + 4)) continue;
    const std::uint8_t expected = i < kImageSize ? defaultImage[i] : 0;
    ASSERT_EQ(image->imageBuffer[i], expected) << "byte " << i;
  }
  // The copies of the product's own IDs in the firmware-info record and the trailer stay as they were.
  ASSERT_EQ(ScanImageTags(*image), kSOk);
  EXPECT_EQ(image->firmwareInfoWords[3], 0x3B7D);
  EXPECT_EQ(image->firmwareInfoWords[4], 0x7310);
  EXPECT_EQ(test::Le16(image->imageBuffer.data() + 16394), 0x7310);
}

TEST(JobImageTest, MissingFullSpeedTagStillPatchesHighSpeed) {
  auto buffer = std::make_unique<std::array<std::uint8_t, kImageBufferSize>>();
  std::copy(defaultImage.begin(), defaultImage.end(), buffer->begin());
  (*buffer)[test::kFullSpeedSet - 1] = 'x';  // "KTFsDTax"
  const auto before = *buffer;
  EXPECT_EQ(PatchHighSpeedDescriptor(buffer->data()), kSOk);
  EXPECT_EQ(PatchFullSpeedDescriptor(buffer->data()), kEFail);
  EXPECT_EQ(test::Le16(buffer->data() + kHsIds + 2), kEvbHighSpeedProductId);
  EXPECT_EQ(std::memcmp(buffer->data() + kFsIds, before.data() + kFsIds, 4), 0);
}

}  // namespace
}  // namespace kt
