#include "hid/report_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kt {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The board's own 99-byte descriptor: Consumer page, one application collection without report IDs, 31
// input bytes, eight 1-bit inputs, 16 output bytes, every usage 0.
// Byte for byte as the default image carries it (the image test checks the image itself).
const Bytes kBoardDescriptor = {
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x00, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x1F,
    0x81, 0x02, 0x25, 0x01, 0x09, 0x00, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0x09, 0x00, 0x75, 0x01, 0x95,
    0x01, 0x81, 0x02, 0x09, 0x00, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0x09, 0x00, 0x75, 0x01, 0x95, 0x01,
    0x81, 0x02, 0x09, 0x00, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0x09, 0x00, 0x75, 0x01, 0x95, 0x01, 0x81,
    0x02, 0x09, 0x00, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0x09, 0x00, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02,
    0x09, 0x00, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x10, 0x91, 0x02, 0xC0,
};

struct Parsed {
  bool ok = false;
  std::string error;
  ReportDescriptorInfo info;
};

Parsed Parse(const Bytes& bytes) {
  Parsed p;
  p.ok = ParseReportDescriptor(bytes.data(), bytes.size(), p.info, p.error);
  return p;
}

// What the device link makes of the capabilities: the last output value capability on the Consumer page
// gives the report ID.
std::uint8_t LinkReportId(const HidCaps& caps) {
  std::uint8_t id = 0;
  for (const HidValueCaps& c : caps.outputValueCaps) {
    if (c.usagePage == 0x0C) id = c.reportId;
  }
  return id;
}

TEST(ReportDescriptorTest, BoardDescriptorGivesTheLengthsWindowsReports) {
  ASSERT_EQ(kBoardDescriptor.size(), 99u);
  const Parsed p = Parse(kBoardDescriptor);
  ASSERT_TRUE(p.ok) << p.error;
  const HidCaps caps = p.info.ToHidCaps();
  EXPECT_EQ(caps.inputReportByteLength, 33);
  EXPECT_EQ(caps.outputReportByteLength, 17);
  EXPECT_FALSE(p.info.usesReportIds);
  ASSERT_EQ(caps.outputValueCaps.size(), 1u);
  EXPECT_EQ(caps.outputValueCaps[0].usagePage, 0x0C);
  EXPECT_EQ(LinkReportId(caps), 0);
  // The 31-byte field is one value; the eight 1-bit fields are buttons.
  EXPECT_EQ(p.info.inputValueCaps.size(), 1u);
}

TEST(ReportDescriptorTest, LargestReportOfEachTypeWinsAndIdsAreKept) {
  const Bytes d = {
      0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,                    // vendor page, application collection
      0x75, 0x08,                                                  // Report Size 8
      0x85, 0x01, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02,              // ID 1: 8 input bytes
      0x85, 0x02, 0x95, 0x14, 0x09, 0x02, 0x81, 0x02,              // ID 2: 20 input bytes
      0x85, 0x03, 0x95, 0x3F, 0x09, 0x03, 0x91, 0x02,              // ID 3: 63 output bytes
      0x05, 0x0C, 0x85, 0x04, 0x95, 0x02, 0x09, 0x04, 0x91, 0x02,  // ID 4: 2 output bytes, Consumer
      0x85, 0x01, 0x95, 0x04, 0x09, 0x05, 0x81, 0x02,              // ID 1 again: 4 more input bytes
      0xC0,
  };
  const Parsed p = Parse(d);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_TRUE(p.info.usesReportIds);
  const HidCaps caps = p.info.ToHidCaps();
  EXPECT_EQ(caps.inputReportByteLength, 21);   // ID 2; ID 1 adds up to 12 bytes only
  EXPECT_EQ(caps.outputReportByteLength, 64);  // ID 3
  ASSERT_EQ(caps.outputValueCaps.size(), 2u);
  EXPECT_EQ(caps.outputValueCaps[0].usagePage, 0xFF00);
  EXPECT_EQ(caps.outputValueCaps[0].reportId, 3);
  EXPECT_EQ(caps.outputValueCaps[1].usagePage, 0x0C);
  EXPECT_EQ(caps.outputValueCaps[1].reportId, 4);
  EXPECT_EQ(LinkReportId(caps), 4);
  EXPECT_EQ(p.info.ReportByteLength(HidReportType::kFeature), 0);
}

TEST(ReportDescriptorTest, BitsAreRoundedUpPerReport) {
  // Three bits and then nine bits in one input report: 12 bits are 2 bytes, plus the ID byte.
  const Bytes d = {0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x95, 0x09,
                   0x81, 0x03, 0x75, 0x03, 0x95, 0x01, 0x91, 0x02};
  const Parsed p = Parse(d);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.info.ReportByteLength(HidReportType::kInput), 3);
  EXPECT_EQ(p.info.ReportByteLength(HidReportType::kOutput), 2);  // 3 bits
}

TEST(ReportDescriptorTest, ValueCapsFollowTheButtonRule) {
  const Bytes d = {
      0x05, 0x0C, 0x75, 0x01, 0x95, 0x08, 0x09, 0x01, 0x91, 0x02,  // 1-bit variables: buttons
      0x75, 0x08, 0x95, 0x02, 0x09, 0x02, 0x91, 0x00,              // array: buttons
      0x09, 0x03, 0x91, 0x03,                                      // constant: padding
      0x09, 0x04, 0x09, 0x05, 0x09, 0x06, 0x91, 0x02,              // three usages on two fields: two values
      0x19, 0x10, 0x29, 0x1F, 0x95, 0x10, 0x91, 0x02,              // a usage range: one value
      0x0B, 0x07, 0x00, 0x0A, 0x00, 0x95, 0x01, 0x91, 0x02,        // 4-byte usage: page 0x0A from the usage
      0x95, 0x01, 0x91, 0x02,                                      // no usage: the current page
  };
  const Parsed p = Parse(d);
  ASSERT_TRUE(p.ok) << p.error;
  const std::vector<HidValueCaps>& caps = p.info.outputValueCaps;
  ASSERT_EQ(caps.size(), 5u);
  EXPECT_EQ(caps[0].usagePage, 0x0C);
  EXPECT_EQ(caps[1].usagePage, 0x0C);
  EXPECT_EQ(caps[2].usagePage, 0x0C);
  EXPECT_EQ(caps[3].usagePage, 0x0A);
  EXPECT_EQ(caps[4].usagePage, 0x0C);
}

TEST(ReportDescriptorTest, PushAndPopSaveAndRestoreTheGlobalState) {
  const Bytes d = {
      0x05, 0x0C, 0x75, 0x08, 0x95, 0x04, 0x85, 0x01,  // page Consumer, 4 x 8 bits, ID 1
      0xA4,                                            // Push
      0x06, 0x00, 0xFF, 0x95, 0x20, 0x85, 0x02,        // vendor page, 32 x 8 bits, ID 2
      0x91, 0x02,                                      // Output: ID 2, 32 bytes, vendor page
      0xB4,                                            // Pop
      0x91, 0x02,                                      // Output: ID 1, 4 bytes, Consumer again
  };
  const Parsed p = Parse(d);
  ASSERT_TRUE(p.ok) << p.error;
  ASSERT_EQ(p.info.outputValueCaps.size(), 2u);
  EXPECT_EQ(p.info.outputValueCaps[0].usagePage, 0xFF00);
  EXPECT_EQ(p.info.outputValueCaps[0].reportId, 2);
  EXPECT_EQ(p.info.outputValueCaps[1].usagePage, 0x0C);
  EXPECT_EQ(p.info.outputValueCaps[1].reportId, 1);
  ASSERT_EQ(p.info.reports.size(), 2u);
  EXPECT_EQ(p.info.reports[0].ByteLength(), 33);
  EXPECT_EQ(p.info.reports[1].ByteLength(), 5);
}

TEST(ReportDescriptorTest, LongItemsAndReservedItemsAreSkipped) {
  const Bytes d = {
      0xFE, 0x03, 0x42, 0x81, 0x02, 0x95,  // long item whose data looks like main items
      0x75, 0x08, 0x95, 0x02,
      0x0C,                          // reserved type-3 short item without data
      0x81, 0x02, 0xFE, 0x00, 0x10,  // empty long item at the end
  };
  const Parsed p = Parse(d);
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.info.ReportByteLength(HidReportType::kInput), 3);
}

TEST(ReportDescriptorTest, EmptyDescriptorHasNoReports) {
  const Parsed p = Parse({});
  ASSERT_TRUE(p.ok) << p.error;
  const HidCaps caps = p.info.ToHidCaps();
  EXPECT_EQ(caps.inputReportByteLength, 0);
  EXPECT_EQ(caps.outputReportByteLength, 0);
  EXPECT_TRUE(caps.outputValueCaps.empty());
}

// Malformed and hostile descriptors: every one is refused with a reason, none crashes or wraps around.
struct BadCase {
  const char* name;
  Bytes bytes;
};

class ReportDescriptorRejectTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(ReportDescriptorRejectTest, IsRefused) {
  const Parsed p = Parse(GetParam().bytes);
  EXPECT_FALSE(p.ok);
  EXPECT_FALSE(p.error.empty());
}

Bytes Nested(std::size_t depth) {
  Bytes d;
  for (std::size_t i = 0; i < depth; ++i) d.insert(d.end(), {0xA1, 0x00});
  d.insert(d.end(), depth, 0xC0);
  return d;
}

Bytes Repeated(Bytes head, const Bytes& unit, std::size_t times) {
  for (std::size_t i = 0; i < times; ++i) head.insert(head.end(), unit.begin(), unit.end());
  return head;
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, ReportDescriptorRejectTest,
    ::testing::Values(BadCase{"TruncatedShortItem", {0x75, 0x08, 0x96, 0x10}},
                      BadCase{"TruncatedFourByteItem", {0x27, 0xFF, 0xFF, 0xFF}},
                      BadCase{"TruncatedLongItemHeader", {0xFE, 0x05}},
                      BadCase{"TruncatedLongItemData", {0xFE, 0x05, 0x01, 0x00, 0x00}},
                      // 2^32-1 bits times 2^32-1: only 64-bit arithmetic sees how large this is.
                      BadCase{"HugeSizeTimesCount",
                              {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02}},
                      BadCase{"SizeTimesCountWrapsIn32Bits",
                              {0x77, 0x00, 0x00, 0x01, 0x00, 0x97, 0x00, 0x00, 0x01, 0x00, 0x91, 0x02}},
                      // Each item fits, together they pass 65534 bytes in one report.
                      BadCase{"ReportTooLongInSum",
                              Repeated({0x75, 0x08, 0x96, 0xFF, 0x7F}, {0x81, 0x02}, 3)},
                      BadCase{"NestingTooDeep", Nested(kMaxCollectionDepth + 1)},
                      BadCase{"EndCollectionWithoutCollection", {0xA1, 0x01, 0xC0, 0xC0}},
                      BadCase{"CollectionNotClosed", {0xA1, 0x01, 0x81, 0x02}},
                      BadCase{"PopWithoutPush", {0xA4, 0xB4, 0xB4}},
                      BadCase{"PushTooDeep", Bytes(kMaxPushDepth + 1, 0xA4)},
                      BadCase{"ReportIdZero", {0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}},
                      BadCase{"ReportIdAboveOneByte", {0x86, 0x00, 0x01}},
                      BadCase{"TooManyMainItems", Repeated({}, {0x81, 0x02}, kMaxMainItems + 1)},
                      BadCase{"TooManyUsages", Repeated({}, {0x09, 0x01}, kMaxUsagesPerMainItem + 1)},
                      BadCase{"LongerThanTheKernelAllows", Bytes(kMaxReportDescriptorBytes + 1, 0x00)}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return info.param.name; });

TEST(ReportDescriptorTest, LimitsThemselvesAreAccepted) {
  EXPECT_TRUE(Parse(Nested(kMaxCollectionDepth)).ok);
  Bytes pushes(kMaxPushDepth, 0xA4);
  pushes.insert(pushes.end(), kMaxPushDepth, 0xB4);
  EXPECT_TRUE(Parse(pushes).ok);
  // 65534 bytes of data plus the ID byte is the longest report a 16-bit length can describe.
  const Parsed p = Parse({0x75, 0x08, 0x96, 0xFE, 0xFF, 0x81, 0x02});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.info.ReportByteLength(HidReportType::kInput), 0xFFFF);
}

}  // namespace
}  // namespace kt
