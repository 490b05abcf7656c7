#include "image/default_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "hid/report_descriptor.h"
#include "image/image_tags.h"
#include "image/image_test_util.h"
#include "image/job_image.h"

namespace kt {
namespace {

using test::DefaultImageAt;
using test::Le16;
using test::Le32;

bool AllZero(std::size_t first, std::size_t last) {
  return std::all_of(DefaultImageAt(first), DefaultImageAt(last + 1), [](std::uint8_t b) { return b == 0; });
}

bool RunAt(std::size_t offset, std::uint8_t firstValue) {
  for (std::size_t k = 0; k < 16; ++k) {
    if (defaultImage[offset + k] != firstValue + k) return false;
  }
  return true;
}

struct TagPlace {
  const char* name;
  std::size_t offset;
  bool runBefore;  // the 16 bytes 0x00..0x0F stand right in front of it
};

constexpr TagPlace kTags[] = {
    {"KTFwLTag", 4613, false}, {"KTCIdTag", 4645, false}, {"KTHsDTag", 4683, true},  {"KTFsDTag", 5487, true},
    {"KTStrTag", 6229, true},  {"KTHIDTag", 6803, true},  {"KTEp2Tag", 6926, true},  {"KTEp3Tag", 7076, true},
    {"KTVolTag", 7734, false}, {"KTCurTag", 7890, true},  {"KTiAPTag", 7906, false}, {"KTVfyTag", 8092, true},
};

TEST(DefaultImageTest, TwelveTagsEachOnceAtTheirOffsets) {
  for (const TagPlace& tag : kTags) {
    const auto* name = reinterpret_cast<const std::uint8_t*>(tag.name);
    std::uint32_t offset = 0;
    ASSERT_EQ(FindTag(defaultImage.data(), name, 8, &offset), kSOk) << tag.name;
    EXPECT_EQ(offset, tag.offset) << tag.name;
    const auto* after =
        std::search(defaultImage.begin() + tag.offset + 1, defaultImage.end(), name, name + 8);
    EXPECT_EQ(after, defaultImage.end()) << tag.name << " occurs twice";
    if (tag.runBefore) {
      EXPECT_TRUE(RunAt(tag.offset - 16, 0x00)) << tag.name;
    }
  }
  EXPECT_TRUE(RunAt(8116, 0x10));
  EXPECT_TRUE(RunAt(8132, 0x00));
}

TEST(DefaultImageTest, ScanOfLoadedImageAcceptsItWithFirmware6087) {
  auto image = std::make_unique<JobImage>();
  LoadJobImage(*image, false);
  ASSERT_EQ(ScanImageTags(*image), kSOk);
  EXPECT_EQ(image->firmwareInfoFound, 1);
  EXPECT_EQ(image->firmwareVersion, 0x6087);
  EXPECT_EQ(defaultImage[4641], 0x87);
  EXPECT_EQ(defaultImage[4642], 0x60);
  EXPECT_EQ(image->cidTagFound, 1);
  EXPECT_EQ(image->cidByte, '.');
  EXPECT_EQ(defaultImage[4653], '.');

  // Words 4 to 7 repeat what the device descriptors say.
  const std::uint8_t* hs = DefaultImageAt(test::kHighSpeedSet);
  const std::uint8_t* fs = DefaultImageAt(test::kFullSpeedSet);
  EXPECT_EQ(image->firmwareInfoWords[3], Le16(hs + 8));
  EXPECT_EQ(image->firmwareInfoWords[3], Le16(fs + 8));
  EXPECT_EQ(image->firmwareInfoWords[4], Le16(hs + 10));
  EXPECT_EQ(image->firmwareInfoWords[5], Le16(fs + 10));
  EXPECT_EQ(image->firmwareInfoWords[6], 0x0001);
  EXPECT_EQ(Le16(hs + 12), 0x0001);
  EXPECT_EQ(Le16(fs + 12), 0x0001);
}

TEST(DefaultImageTest, RegionsHeaderCodeZerosAndTrailer) {
  EXPECT_TRUE(std::none_of(DefaultImageAt(0), DefaultImageAt(8), [](std::uint8_t b) { return b == 0; }))
      << "a cleared header must never look like a written one";
  EXPECT_EQ(defaultImage[8], 0x02) << "the code starts with a long jump";
  EXPECT_TRUE(AllZero(4608, 4612));
  EXPECT_TRUE(AllZero(15951, 16391));
  EXPECT_TRUE(AllZero(16398, kImageSize - 1));
  EXPECT_NE(defaultImage[16397], 0) << "the last nonzero byte";

  // The second code part carries a few runs of zeros, the first code part is code throughout.
  const auto* code2 = DefaultImageAt(8148);
  const std::uint8_t zeros[16] = {};
  EXPECT_NE(std::search(code2, DefaultImageAt(15951), zeros, zeros + 16), DefaultImageAt(15951));
  EXPECT_EQ(std::search(DefaultImageAt(8), DefaultImageAt(4608), zeros, zeros + 16), DefaultImageAt(4608));

  // Trailer: a value, the high-speed product ID and the vendor ID, then two zero bytes.
  EXPECT_EQ(Le16(DefaultImageAt(16394)), Le16(DefaultImageAt(test::kHighSpeedSet + 10)));
  EXPECT_EQ(Le16(DefaultImageAt(16396)), Le16(DefaultImageAt(test::kHighSpeedSet + 8)));
  EXPECT_EQ(Le16(DefaultImageAt(16396)), 0x3B7D);
  EXPECT_EQ(Le16(DefaultImageAt(16394)), 0x7310);

  // The current-settings record is eight zero bytes.
  EXPECT_TRUE(AllZero(7898, 7905));
}

void ExpectRateBlock(std::size_t offset, std::uint16_t count, const std::uint32_t (&rates)[9]) {
  const std::uint8_t* block = DefaultImageAt(offset);
  EXPECT_EQ(Le16(block), count);
  EXPECT_EQ(Le16(block + 2), 0);
  EXPECT_EQ(Le32(block + 4), rates[0]);
  EXPECT_EQ(Le32(block + 8), rates[0]);
  EXPECT_EQ(Le32(block + 12), 0u);
  EXPECT_EQ(Le16(block + 16), count);
  for (std::size_t slot = 0; slot < 9; ++slot) {
    const std::uint8_t* triple = block + 18 + 12 * slot;
    EXPECT_EQ(Le32(triple), rates[slot]) << "block at " << offset << " slot " << slot;
    EXPECT_EQ(Le32(triple + 4), rates[slot]);
    EXPECT_EQ(Le32(triple + 8), 0u);
  }
}

TEST(DefaultImageTest, RateBlocks) {
  ExpectRateBlock(test::kEp2Record, 8, {44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000, 384000});
  const std::uint32_t nine[9] = {32000, 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};
  ExpectRateBlock(test::kEp3Record, 7, nine);
  ExpectRateBlock(test::kEp3Record + 126, 9, nine);
  ExpectRateBlock(test::kEp3Record + 252, 9, nine);
}

TEST(DefaultImageTest, StringSlotsAndProductName) {
  const std::uint8_t* strings = DefaultImageAt(test::kStringRecord);
  EXPECT_EQ(strings[0], 4);
  EXPECT_EQ(strings[1], 3);
  EXPECT_EQ(Le16(strings + 2), 0x0409);
  for (int n = 1; n <= 7; ++n) {
    const std::uint8_t* slot = strings + 4 + 78 * (n - 1);
    EXPECT_EQ(slot[0], 78) << n;
    EXPECT_EQ(slot[1], 3) << n;
    EXPECT_FALSE(test::DefaultImageString(n).empty()) << n;
  }
  // The iAP record names the product as plain ASCII, the same text as string 2.
  const std::string product = test::DefaultImageString(2);
  const auto* iap = DefaultImageAt(test::kIapRecord);
  EXPECT_NE(std::search(iap, iap + 162, product.begin(), product.end()), iap + 162) << product;
}

TEST(DefaultImageTest, HidReportDescriptorGivesThirtyThreeInAndSeventeenOut) {
  ReportDescriptorInfo info;
  std::string error;
  ASSERT_TRUE(ParseReportDescriptor(DefaultImageAt(test::kHidReportRecord), 99, info, error)) << error;
  EXPECT_FALSE(info.usesReportIds);
  EXPECT_EQ(info.ReportByteLength(HidReportType::kInput), 33);
  EXPECT_EQ(info.ReportByteLength(HidReportType::kOutput), 17);
  ASSERT_EQ(info.outputValueCaps.size(), 1u);
  EXPECT_EQ(info.outputValueCaps[0].usagePage, 0x0C);
  EXPECT_EQ(info.outputValueCaps[0].reportId, 0);
  EXPECT_EQ(defaultImage[6909], 0xC0) << "the collection closes on the record's last byte";
}

}  // namespace
}  // namespace kt
