#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "image/image_tags.h"
#include "image/job_image.h"

namespace kt {
namespace {

class TagScannerTest : public ::testing::Test {
 protected:
  void Put(std::size_t pos, std::string_view text) {
    std::memcpy(image_->imageBuffer.data() + pos, text.data(), text.size());
  }
  HResult Scan() { return ScanImageTags(*image_); }
  JobImage& image() { return *image_; }

  std::unique_ptr<JobImage> image_ = std::make_unique<JobImage>();
};

TEST_F(TagScannerTest, AcceptsOnlyADotAfterTheFirstCidTag) {
  Put(100, "KTCIdTag.");
  EXPECT_EQ(Scan(), kSOk);
  EXPECT_EQ(image().cidTagFound, 1);
  EXPECT_EQ(image().cidByte, '.');
  EXPECT_EQ(image().firmwareInfoFound, 0) << "the firmware-info tag is not required";

  Put(100, "KTCIdTag,");
  Put(200, "KTFwLTag");
  EXPECT_EQ(Scan(), kEFail);
  EXPECT_EQ(image().cidTagFound, 1);

  // A second CId tag followed by a dot does not rescue the first.
  Put(300, "KTCIdTag.");
  EXPECT_EQ(Scan(), kEFail);
  EXPECT_EQ(image().cidByte, ',');
}

TEST_F(TagScannerTest, FailsWithoutCidTagAndClearsFoundFlags) {
  image().firmwareInfoFound = 1;
  image().cidTagFound = 1;
  image().cidByte = '.';
  image().firmwareVersion = 0x1234;
  EXPECT_EQ(Scan(), kEFail);
  EXPECT_EQ(image().cidTagFound, 0);
  EXPECT_EQ(image().firmwareInfoFound, 0);
  EXPECT_EQ(image().firmwareVersion, 0x1234) << "a record not found keeps its old fields";
}

TEST_F(TagScannerTest, ReadsFirmwareRecordOfFirstTagInEitherOrder) {
  Put(50, "KTCIdTag.");
  Put(10, "KTFwLTag");
  for (std::size_t k = 0; k < 22; ++k) image().imageBuffer[18 + k] = static_cast<std::uint8_t>(0xA0 + k);
  Put(4000, "KTFwLTag");
  image().imageBuffer[4028] = 0x11;
  ASSERT_EQ(Scan(), kSOk);
  EXPECT_EQ(image().firmwareInfoFound, 1);
  EXPECT_EQ(image().firmwareInfoBytes, (std::array<std::uint8_t, 6>{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
  for (std::size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(image().firmwareInfoWords[k], (0xA7 + 2 * k) << 8 | (0xA6 + 2 * k)) << "word " << k + 1;
  }
  EXPECT_EQ(image().firmwareVersion, 0xB5B4);
}

TEST_F(TagScannerTest, TagAtLastFittingPositionReadsZerosPastImageEnd) {
  Put(0, "KTCIdTag.");
  Put(kImageSize - 8, "KTFwLTag");
  // Whatever sits in the buffer behind the image, the record's missing bytes read as zero.
  std::fill(image().imageBuffer.begin() + kImageSize, image().imageBuffer.end(), 0xEE);
  ASSERT_EQ(Scan(), kSOk);
  EXPECT_EQ(image().firmwareInfoFound, 1);
  EXPECT_EQ(image().firmwareInfoBytes, (std::array<std::uint8_t, 6>{}));
  EXPECT_EQ(image().firmwareVersion, 0);
}

TEST_F(TagScannerTest, TagStraddlingImageEndIsNotFound) {
  for (std::size_t pos = kImageSize - 7; pos < kImageSize; ++pos) {
    image().imageBuffer.fill(0);
    Put(pos, std::string_view("KTCIdTag.KTFwLTag").substr(0, kImageBufferSize - pos));
    EXPECT_EQ(Scan(), kEFail) << pos;
    EXPECT_EQ(image().cidTagFound, 0) << pos;

    std::uint32_t offset = 77;
    EXPECT_EQ(FindTag(image().imageBuffer.data(), kCidTag.data(), 8, &offset), kEFail) << pos;
    EXPECT_EQ(offset, 0u);
  }
}

TEST(FindTagTest, FindsFirstOccurrenceWithinImage) {
  std::vector<std::uint8_t> buffer(kImageSize, 0);
  std::memcpy(buffer.data() + 900, "KTHsDTag", 8);
  std::memcpy(buffer.data() + 300, "KTHsDTag", 8);
  std::memcpy(buffer.data() + kImageSize - 8, "KTFsDTag", 8);
  std::uint32_t offset = 0;
  EXPECT_EQ(FindTag(buffer.data(), kHighSpeedDescriptorTag.data(), 8, &offset), kSOk);
  EXPECT_EQ(offset, 300u);
  EXPECT_EQ(FindTag(buffer.data(), kFullSpeedDescriptorTag.data(), 8, &offset), kSOk);
  EXPECT_EQ(offset, kImageSize - 8);

  // Case matters, and a name is raw bytes: a prefix matches where the whole tag does.
  const std::uint8_t lower[] = {'k', 't', 'H', 's', 'D', 'T', 'a', 'g'};
  EXPECT_EQ(FindTag(buffer.data(), lower, 8, &offset), kEFail);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(FindTag(buffer.data(), kHighSpeedDescriptorTag.data(), 3, &offset), kSOk);
  EXPECT_EQ(offset, 300u);

  // The whole image as the name: the longest name that can match.
  EXPECT_EQ(FindTag(buffer.data(), buffer.data(), kImageSize, &offset), kSOk);
  EXPECT_EQ(offset, 0u);
}

TEST(FindTagTest, LengthLimitsAndNullArguments) {
  std::vector<std::uint8_t> buffer(kImageSize + 1, 0);
  std::uint32_t offset = 55;
  EXPECT_EQ(FindTag(buffer.data(), kCidTag.data(), 0, &offset), kSOk);
  EXPECT_EQ(offset, 0u);

  offset = 55;
  EXPECT_EQ(FindTag(buffer.data(), buffer.data(), kImageSize + 1, &offset), kEFail);
  EXPECT_EQ(offset, 0u);

  offset = 55;
  EXPECT_EQ(FindTag(buffer.data(), nullptr, 8, &offset), kEFail);
  EXPECT_EQ(FindTag(nullptr, kCidTag.data(), 8, &offset), kEFail);
  EXPECT_EQ(offset, 55u) << "a refused call leaves offset alone";
  EXPECT_EQ(FindTag(buffer.data(), kCidTag.data(), 8, nullptr), kEFail);
}

}  // namespace
}  // namespace kt
