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

// The port a udev event names, read from its device path alone (the device may be gone already): the
// deepest USB device on the path, as UsbPortOfHidrawNode names a present node's.
TEST(HidrawSysfsTest, PortInADevicePath) {
  const struct {
    const char* path;
    const char* port;
  } rows[] = {
      {"/devices/platform/dummy_hcd.0/usb1/1-1/1-1:1.0/0003:3B7D:7310.0004/hidraw/hidraw0", "1-1"},
      {"/devices/pci0000:00/0000:00:14.0/usb3/3-2/3-2.4/3-2.4.1/3-2.4.1:1.0/0003:3B7D:72F7.0011/hidraw/hidraw5",
       "3-2.4.1"},
      {"/devices/platform/dummy_hcd.2/usb3/3-1", "3-1"},  // the USB device's own event
      {"/devices/pci0000:00/0000:00:14.0/usb1", ""},      // a root hub
      {"/devices/virtual/misc/uhid/0003:3B7D:72F7.0002/hidraw/hidraw1", ""},
      {"/devices/platform/x-1/usb1/1-1.-2/1-", ""},  // names that only look like ports
      {"/devices/12-3a/1.2-3/-1/1-1:1.0", ""},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(UsbPortInDevicePath(row.path), row.port) << row.path;
}

}  // namespace
}  // namespace kt
