// The USB descriptors of the default image must be what a host would accept: every chain of descriptors
// walks exactly to the end of its region, configurations state their real total length and interface
// count, interfaces their real endpoint count, class-specific audio headers their real total.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "image/image_test_util.h"

namespace kt {
namespace {

using test::DefaultImageAt;
using test::Le16;

constexpr std::uint8_t kDevice = 0x01, kConfiguration = 0x02, kInterface = 0x04, kEndpoint = 0x05,
                       kQualifier = 0x06, kOtherSpeed = 0x07, kAssociation = 0x0B, kHid = 0x21,
                       kCsInterface = 0x24;

struct Descriptor {
  const std::uint8_t* bytes;
  std::uint8_t type() const { return bytes[1]; }
};

::testing::AssertionResult Walk(std::size_t offset, std::size_t size, std::vector<Descriptor>& out) {
  out.clear();
  std::size_t pos = 0;
  while (pos < size) {
    const std::uint8_t* d = DefaultImageAt(offset + pos);
    if (size - pos < 2 || d[0] < 2 || d[0] > size - pos) {
      return ::testing::AssertionFailure()
             << "descriptor at image byte " << offset + pos << " breaks the chain";
    }
    out.push_back({d});
    pos += d[0];
  }
  return ::testing::AssertionSuccess();
}

// Each interface declares as many endpoints as follow it; the interface count is that of distinct numbers.
void ExpectInterfacesConsistent(const std::vector<Descriptor>& chain, std::size_t declaredInterfaces) {
  std::set<std::uint8_t> numbers;
  for (auto it = chain.begin(); it != chain.end(); ++it) {
    if (it->type() != kInterface) continue;
    numbers.insert(it->bytes[2]);
    auto next = std::find_if(it + 1, chain.end(), [](const Descriptor& d) { return d.type() == kInterface; });
    const auto endpoints =
        std::count_if(it + 1, next, [](const Descriptor& d) { return d.type() == kEndpoint; });
    EXPECT_EQ(it->bytes[4], endpoints) << "interface " << +it->bytes[2] << " alternate " << +it->bytes[3];
  }
  if (declaredInterfaces != 0) {
    EXPECT_EQ(numbers.size(), declaredInterfaces);
  }
}

// Audio control headers (Audio Class 1.0 and 2.0) state the length of the class descriptors they head.
void ExpectAudioControlTotals(const std::vector<Descriptor>& chain) {
  for (auto it = chain.begin(); it != chain.end(); ++it) {
    if (it->type() != kInterface || it->bytes[5] != 0x01 || it->bytes[6] != 0x01) continue;
    auto header = it + 1;
    ASSERT_NE(header, chain.end());
    ASSERT_EQ(header->type(), kCsInterface);
    ASSERT_EQ(header->bytes[2], 0x01);
    const bool uac2 = Le16(header->bytes + 3) == 0x0200;
    const std::uint16_t declared = Le16(header->bytes + (uac2 ? 6 : 5));
    std::size_t total = 0;
    for (auto d = header; d != chain.end() && d->type() == kCsInterface; ++d) total += d->bytes[0];
    EXPECT_EQ(declared, total) << "audio control interface " << +it->bytes[2];
  }
}

std::set<std::uint8_t> EndpointAddresses(const std::vector<Descriptor>& chain) {
  std::set<std::uint8_t> addresses;
  for (const auto& d : chain) {
    if (d.type() == kEndpoint) addresses.insert(d.bytes[2]);
  }
  return addresses;
}

void ExpectHidInterface(const std::vector<Descriptor>& chain) {
  ASSERT_GE(chain.size(), 4u);
  EXPECT_EQ(chain[1].type(), kInterface);
  EXPECT_EQ(chain[1].bytes[5], 0x03) << "interface 0 is HID";
  ASSERT_EQ(chain[2].type(), kHid);
  EXPECT_EQ(chain[2].bytes[6], 0x22);
  EXPECT_EQ(Le16(chain[2].bytes + 7), 99) << "the report descriptor in the image is 99 bytes";
  ASSERT_EQ(chain[3].type(), kEndpoint);
  EXPECT_EQ(chain[3].bytes[2], 0x81);
  EXPECT_EQ(chain[3].bytes[3], 0x03);
  EXPECT_EQ(Le16(chain[3].bytes + 4), 32);
}

// A configuration region: one configuration descriptor of `type` whose total is the region's size.
std::vector<Descriptor> CheckConfiguration(std::size_t offset, std::size_t size, std::uint8_t type,
                                           std::uint8_t attributes) {
  std::vector<Descriptor> chain;
  EXPECT_TRUE(Walk(offset, size, chain));
  if (chain.empty()) return chain;
  EXPECT_EQ(chain[0].type(), type);
  EXPECT_EQ(chain[0].bytes[0], 9);
  EXPECT_EQ(Le16(chain[0].bytes + 2), size);
  EXPECT_EQ(chain[0].bytes[7], attributes);
  ExpectInterfacesConsistent(chain, chain[0].bytes[4]);
  ExpectAudioControlTotals(chain);
  ExpectHidInterface(chain);
  return chain;
}

void ExpectDeviceDescriptor(std::size_t offset, std::uint16_t bcdUsb, std::uint8_t deviceClass) {
  const std::uint8_t* d = DefaultImageAt(offset);
  EXPECT_EQ(d[0], 18);
  EXPECT_EQ(d[1], kDevice);
  EXPECT_EQ(Le16(d + 2), bcdUsb);
  EXPECT_EQ(d[4], deviceClass);
  EXPECT_EQ(d[7], 64);
  EXPECT_EQ(Le16(d + 8), 0x3B7D);
  EXPECT_EQ(Le16(d + 12), 0x0001);
  EXPECT_EQ(d[14], 1);
  EXPECT_EQ(d[15], 2);
  EXPECT_EQ(d[16], 0) << "no serial number";
  EXPECT_EQ(d[17], 1);
}

TEST(DefaultImageDescriptorsTest, HighSpeedSet) {
  const std::size_t base = test::kHighSpeedSet;
  ExpectDeviceDescriptor(base, 0x0200, 0xEF);
  EXPECT_EQ(Le16(DefaultImageAt(base + 10)), 0x7310);
  const std::uint8_t* q1 = DefaultImageAt(base + 18);
  const std::uint8_t* q2 = DefaultImageAt(base + 28);
  EXPECT_EQ(q1[0], 10);
  EXPECT_EQ(q1[1], kQualifier);
  EXPECT_EQ(Le16(q1 + 2), 0x0200);
  EXPECT_EQ(q2[1], kQualifier);
  EXPECT_EQ(Le16(q2 + 2), 0x0110);

  const auto config = CheckConfiguration(base + 38, 283, kConfiguration, 0xC0);
  EXPECT_EQ(EndpointAddresses(config), (std::set<std::uint8_t>{0x81, 0x03, 0x84}));
  const auto iad =
      std::find_if(config.begin(), config.end(), [](auto& d) { return d.type() == kAssociation; });
  ASSERT_NE(iad, config.end());
  EXPECT_EQ(iad->bytes[2], 1);
  EXPECT_EQ(iad->bytes[3], 2);
  EXPECT_EQ(iad->bytes[6], 0x20) << "Audio Class 2.0 function";
  std::vector<std::uint16_t> outSizes;
  for (const auto& d : config) {
    if (d.type() == kEndpoint && d.bytes[2] == 0x03) outSizes.push_back(Le16(d.bytes + 4));
  }
  EXPECT_EQ(outSizes, (std::vector<std::uint16_t>{104, 156, 208}));

  std::vector<Descriptor> further;
  ASSERT_TRUE(Walk(base + 321, 425, further));
  ExpectInterfacesConsistent(further, 0);
  EXPECT_EQ(EndpointAddresses(further),
            (std::set<std::uint8_t>{0x03, 0x84, 0x82, 0x0A, 0x89, 0x06, 0x85, 0x87}));

  const auto other = CheckConfiguration(base + 746, 34, kOtherSpeed, 0x80);
  ASSERT_FALSE(other.empty());
  EXPECT_EQ(other[0].bytes[8], 250) << "500 mA";
}

TEST(DefaultImageDescriptorsTest, FullSpeedSet) {
  const std::size_t base = test::kFullSpeedSet;
  ExpectDeviceDescriptor(base, 0x0110, 0x00);
  EXPECT_NE(Le16(DefaultImageAt(base + 10)), 0x7310) << "full speed has its own product ID";

  const auto config = CheckConfiguration(base + 18, 284, kConfiguration, 0xC0);
  EXPECT_EQ(EndpointAddresses(config), (std::set<std::uint8_t>{0x81, 0x03, 0x84}));

  std::vector<Descriptor> further;
  ASSERT_TRUE(Walk(base + 302, 416, further));
  ExpectInterfacesConsistent(further, 0);
  ExpectAudioControlTotals(further);
  EXPECT_EQ(EndpointAddresses(further),
            (std::set<std::uint8_t>{0x03, 0x84, 0x82, 0x0A, 0x89, 0x06, 0x85, 0x87}));
}

TEST(DefaultImageDescriptorsTest, FurtherDescriptorsHoldVendorInterfaceAndMidiFunction) {
  for (const auto& [offset, size] : {std::pair<std::size_t, std::size_t>{test::kHighSpeedSet + 321, 425},
                                     {test::kFullSpeedSet + 302, 416}}) {
    std::vector<Descriptor> chain;
    ASSERT_TRUE(Walk(offset, size, chain));
    ExpectAudioControlTotals(chain);
    const auto vendor = std::find_if(chain.begin(), chain.end(),
                                     [](auto& d) { return d.type() == kInterface && d.bytes[2] == 6; });
    ASSERT_NE(vendor, chain.end());
    EXPECT_EQ(vendor->bytes[5], 0xFF);
    EXPECT_EQ(vendor->bytes[6], 0xF0);
    const auto midi = std::find_if(chain.begin(), chain.end(),
                                   [](auto& d) { return d.type() == kAssociation && d.bytes[2] == 4; });
    ASSERT_NE(midi, chain.end());
    EXPECT_EQ(midi->bytes[3], 2);
  }
}

TEST(DefaultImageDescriptorsTest, EveryNamedStringExists) {
  std::set<int> named;
  for (const auto& [offset, size] : {std::pair<std::size_t, std::size_t>{test::kHighSpeedSet + 38, 708},
                                     {test::kFullSpeedSet + 18, 700}}) {
    std::vector<Descriptor> chain;
    ASSERT_TRUE(Walk(offset, size, chain));
    for (const auto& d : chain) {
      if (d.type() == kInterface) named.insert(d.bytes[8]);
      if (d.type() == kAssociation) named.insert(d.bytes[7]);
    }
  }
  named.erase(0);
  EXPECT_EQ(named, (std::set<int>{3, 4, 5, 6, 7})) << "strings 3 to 7 are named by functions and interfaces";
}

}  // namespace
}  // namespace kt
