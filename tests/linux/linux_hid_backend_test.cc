#include "hid/linux/linux_hid_backend.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>

#include "base/clock.h"
#include "hid/hid_link.h"
#include "hid/report_descriptor.h"
#include "linux/fake_hidraw_tree.h"

namespace kt {
namespace {

TEST(LinuxHidBackendTest, DeviceLinkOpensTheFirstMatchingBoardInKernelOrder) {
  FakeHidrawTree tree;
  tree.AddDevice(0, 0x046D, 0xC52B, NumberedDescriptor());  // some other vendor's device
  tree.AddDevice(3, 0x3B7D, 0x7310, NumberedDescriptor());
  tree.AddDevice(2, 0x3B7D, 0x7310, BoardDescriptor());
  LinuxHidBackend backend(tree.SysRoot(), tree.DevRoot(), [](const std::string&) {});
  VirtualClock clock;
  HidLink link;
  CreateHidLink(link, backend, clock);

  ASSERT_TRUE(OpenHidLink(link, 0x3B7D, 0x7310)) << backend.LastError();
  // hidraw2 comes before hidraw3, and it is the one without report IDs.
  EXPECT_EQ(link.inputReportLength, 33);
  EXPECT_EQ(link.outputReportLength, 17);
  EXPECT_EQ(link.reportId, 0);
  DestroyHidLink(link);
}

// A board is named by the USB device above its node (its port), and a node without one by its path.
TEST(LinuxHidBackendTest, PortsAreTheUsbDevicesAboveTheNodes) {
  FakeHidrawTree tree;
  tree.AddDevice(2, 0x3B7D, 0x7310, BoardDescriptor());
  tree.AddDevice(5, 0x3B7D, 0x72F7, BoardDescriptor());
  LinuxHidBackend backend(tree.SysRoot(), tree.DevRoot(), [](const std::string&) {});
  EXPECT_EQ(backend.PortOf(tree.Node(2)), "usb2");
  EXPECT_EQ(backend.PortOf(tree.Node(5)), "usb5");
  EXPECT_EQ(backend.PortOf(tree.Node(9)), tree.Node(9));
}

TEST(LinuxHidBackendTest, NumberedBoardGivesItsOutputReportId) {
  FakeHidrawTree tree;
  tree.AddDevice(0, 0x3B7D, 0x7300, NumberedDescriptor());
  LinuxHidBackend backend(tree.SysRoot(), tree.DevRoot(), [](const std::string&) {});
  VirtualClock clock;
  HidLink link;
  CreateHidLink(link, backend, clock);
  ASSERT_TRUE(OpenHidLink(link, 0x3B7D, 0x7300)) << backend.LastError();
  EXPECT_EQ(link.reportId, 6);
  EXPECT_EQ(link.inputReportLength, 8);
  DestroyHidLink(link);
}

TEST(LinuxHidBackendTest, NodeThatCannotBeOpenedIsNamedInTheError) {
  FakeHidrawTree tree;
  LinuxHidBackend backend(tree.SysRoot(), tree.DevRoot(), [](const std::string&) {});
  EXPECT_EQ(backend.Open(tree.Node(4), HidOpenMode::kPlain), nullptr);
  EXPECT_NE(backend.LastError().find("open " + tree.Node(4)), std::string::npos) << backend.LastError();
}

TEST(LinuxHidBackendTest, PermissionDeniedOnABoardNamesTheUdevRuleOnce) {
  if (::geteuid() == 0) GTEST_SKIP() << "root opens every node; permissions cannot be tested as root";
  FakeHidrawTree tree;
  tree.AddDevice(0, 0x3B7D, 0x7310, BoardDescriptor());
  tree.AddDevice(1, 0x046D, 0xC52B, BoardDescriptor());
  ASSERT_EQ(::chmod(tree.Node(0).c_str(), 0), 0);
  ASSERT_EQ(::chmod(tree.Node(1).c_str(), 0), 0);
  std::vector<std::string> reported;
  LinuxHidBackend backend(tree.SysRoot(), tree.DevRoot(),
                          [&](const std::string& m) { reported.push_back(m); });

  EXPECT_EQ(backend.Open(tree.Node(0), HidOpenMode::kPlain), nullptr);
  EXPECT_EQ(backend.Open(tree.Node(0), HidOpenMode::kOverlappedRead), nullptr);
  EXPECT_EQ(backend.Open(tree.Node(1), HidOpenMode::kPlain), nullptr);  // not a board: not reported
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_NE(reported[0].find("packaging/linux/70-kt7310.rules"), std::string::npos) << reported[0];
  EXPECT_NE(reported[0].find("Permission denied"), std::string::npos) << reported[0];
}

// Against the machine's own hidraw devices, when it has any: every node can be opened and read safely,
// and a board of ours shows the lengths the tool expects.
TEST(LinuxHidBackendTest, RealHidrawDevices) {
  LinuxHidBackend backend("/sys", "/dev", [](const std::string&) {});
  std::unique_ptr<HidInterfaceList> list = backend.ListInterfaces();
  if (!list) GTEST_SKIP() << "no udev: " << backend.LastError();
  std::string path;
  std::size_t opened = 0;
  for (std::uint32_t i = 0; list->Next(i, path) == HidEnumStep::kInterface; ++i) {
    auto handle = backend.Open(path, HidOpenMode::kPlain);
    if (!handle) continue;
    ++opened;
    HidAttributes attributes;
    HidCaps caps;
    EXPECT_TRUE(handle->GetAttributes(attributes)) << path;
    // Other makers' descriptors may be refused (some are malformed); reading them must merely be safe.
    const bool hasCaps = handle->GetCaps(caps);
    if (attributes.vendorId == kBoardVendorId) {
      EXPECT_TRUE(hasCaps) << path << ": " << backend.LastError();
      EXPECT_EQ(caps.inputReportByteLength, 33) << path;
      EXPECT_EQ(caps.outputReportByteLength, 17) << path;
    }
  }
  if (opened == 0) GTEST_SKIP() << "no hidraw device attached (or none this user may open)";
}

TEST(LinuxHidBackendTest, HotPlugMonitorStartsAndStops) {
  std::string error;
  if (!CreateUdevEventSource(error)) GTEST_SKIP() << "no udev monitor here: " << error;
  LinuxHidBackend backend("/sys", "/dev", [](const std::string&) {});
  backend.SetDeviceChangeListener([](const DeviceChange&) {});
  backend.SetDeviceChangeListener([](const DeviceChange&) {});  // replaces the first monitor, joining its thread
  backend.SetDeviceChangeListener({});
  backend.SetDeviceChangeListener([](const DeviceChange&) {});  // and the destructor stops this one
}

}  // namespace
}  // namespace kt
