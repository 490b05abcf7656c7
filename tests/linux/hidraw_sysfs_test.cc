#include "hid/linux/hidraw_sysfs.h"

#include <gtest/gtest.h>

#include "linux/fake_hidraw_tree.h"

namespace kt {
namespace {

TEST(HidrawSysfsTest, HidIdPropertyGivesVendorAndProduct) {
  std::uint16_t vendor = 0, product = 0;
  ASSERT_TRUE(
      ParseHidIdProperty("DRIVER=hid-generic\nHID_ID=0003:00003B7D:00007310\nHID_NAME=x\n", vendor, product));
  EXPECT_EQ(vendor, 0x3B7D);
  EXPECT_EQ(product, 0x7310);
  ASSERT_TRUE(ParseHidIdProperty("HID_ID=0005:0000abcd:00000001", vendor, product));  // Bluetooth, lower case
  EXPECT_EQ(vendor, 0xABCD);
  EXPECT_EQ(product, 0x0001);
}

TEST(HidrawSysfsTest, MalformedHidIdIsRefused) {
  std::uint16_t vendor = 0, product = 0;
  EXPECT_FALSE(ParseHidIdProperty("HID_NAME=x\n", vendor, product));
  EXPECT_FALSE(ParseHidIdProperty("HID_ID=0003:00003B7D\n", vendor, product));
  EXPECT_FALSE(ParseHidIdProperty("HID_ID=0003:00013B7D:00007310\n", vendor, product));  // above 16 bits
  EXPECT_FALSE(ParseHidIdProperty("HID_ID=0003:3B7D:73G0\n", vendor, product));
}

TEST(HidrawSysfsTest, MinorNumberComesFromTheNodeName) {
  EXPECT_EQ(HidrawMinorFromName("hidraw0"), 0u);
  EXPECT_EQ(HidrawMinorFromName("hidraw12"), 12u);
  EXPECT_FALSE(HidrawMinorFromName("hidraw"));
  EXPECT_FALSE(HidrawMinorFromName("hidraw1a"));
  EXPECT_FALSE(HidrawMinorFromName("hiddev0"));
}

TEST(HidrawSysfsTest, NodeInfoFromUeventOrFromTheUsbParent) {
  FakeHidrawTree tree;
  tree.AddDevice(0, 0x3B7D, 0x7310, BoardDescriptor());
  tree.AddDevice(1, 0x3B7D, 0x7300, BoardDescriptor(), /*hidIdInUevent=*/false);
  std::string error;

  HidrawNodeInfo info;
  ASSERT_TRUE(ReadHidrawNodeInfo(tree.SysRoot(), "hidraw0", info, error)) << error;
  EXPECT_TRUE(info.hasIds);
  EXPECT_EQ(info.productId, 0x7310);
  ASSERT_TRUE(info.hasDescriptor);
  EXPECT_EQ(info.descriptor, BoardDescriptor());

  ASSERT_TRUE(ReadHidrawNodeInfo(tree.SysRoot(), "hidraw1", info, error)) << error;
  EXPECT_TRUE(info.hasIds);
  EXPECT_EQ(info.vendorId, 0x3B7D);
  EXPECT_EQ(info.productId, 0x7300);

  EXPECT_FALSE(ReadHidrawNodeInfo(tree.SysRoot(), "hidraw7", info, error));
  EXPECT_NE(error.find("hidraw7"), std::string::npos);
}

}  // namespace
}  // namespace kt
