#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "image/image_tags.h"
#include "image/job_image.h"

namespace kt {
namespace {

std::vector<std::uint8_t> ImageWithTag(std::size_t pos, const TagName& tag) {
  std::vector<std::uint8_t> buffer(kImageBufferSize, 0);
  for (std::size_t i = 0; i < kImageSize; ++i) buffer[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::memcpy(buffer.data() + pos, tag.data(), tag.size());
  return buffer;
}

// Every byte but the four ID bytes of the descriptor after the tag must come out as it went in.
void ExpectOnlyIdsChanged(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& after,
                          std::size_t tagPos, std::uint16_t productId) {
  const std::size_t ids = tagPos + 16;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (i < ids || i >= ids + 4) {
      ASSERT_EQ(after[i], before[i]) << "byte " << i;
    }
  }
  EXPECT_EQ(after[ids], 0x7D);
  EXPECT_EQ(after[ids + 1], 0x3B);
  EXPECT_EQ(after[ids + 2], productId & 0xFF);
  EXPECT_EQ(after[ids + 3], productId >> 8);
}

TEST(DescriptorPatchTest, RewritesIdsOfFirstTaggedDescriptorOnly) {
  auto before = ImageWithTag(1000, kHighSpeedDescriptorTag);
  std::memcpy(before.data() + 2000, kHighSpeedDescriptorTag.data(), 8);
  std::memcpy(before.data() + 3000, kFullSpeedDescriptorTag.data(), 8);
  auto after = before;
  ASSERT_EQ(PatchHighSpeedDescriptor(after.data()), kSOk);
  ExpectOnlyIdsChanged(before, after, 1000, 0x0001);

  before = after;
  ASSERT_EQ(PatchFullSpeedDescriptor(after.data()), kSOk);
  ExpectOnlyIdsChanged(before, after, 3000, 0x0002);
}

TEST(DescriptorPatchTest, MissingTagOrNullBufferChangesNothing) {
  const auto before = ImageWithTag(500, kHighSpeedDescriptorTag);
  auto after = before;
  EXPECT_EQ(PatchFullSpeedDescriptor(after.data()), kEFail);
  EXPECT_EQ(after, before);
  EXPECT_EQ(PatchHighSpeedDescriptor(nullptr), kEFail);
  EXPECT_EQ(PatchFullSpeedDescriptor(nullptr), kEFail);
}

TEST(DescriptorPatchTest, TagTooCloseToImageEndIsNotPatched) {
  // The ID bytes must lie inside the image: the last tag position that allows it is 20 bytes from the end.
  auto fits = ImageWithTag(kImageSize - 20, kFullSpeedDescriptorTag);
  const auto fitsBefore = fits;
  ASSERT_EQ(PatchFullSpeedDescriptor(fits.data()), kSOk);
  ExpectOnlyIdsChanged(fitsBefore, fits, kImageSize - 20, 0x0002);

  const auto before = ImageWithTag(kImageSize - 19, kFullSpeedDescriptorTag);
  auto after = before;
  EXPECT_EQ(PatchFullSpeedDescriptor(after.data()), kEFail);
  EXPECT_EQ(after, before) << "the zero tail behind the image stays zero";
}

}  // namespace
}  // namespace kt
