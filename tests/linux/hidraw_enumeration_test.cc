#include "hid/linux/hidraw_enumeration.h"

#include <gtest/gtest.h>

#include "hid/linux/hidraw_sysfs.h"
#include "linux/fake_hidraw_tree.h"

namespace kt {
namespace {

TEST(HidrawEnumerationTest, NodesComeInMinorOrderNotNameOrder) {
  FakeHidrawTree tree;
  for (unsigned minor : {10u, 2u, 0u}) tree.AddDevice(minor, 0x3B7D, 0x7310, BoardDescriptor());
  std::vector<std::string> nodes;
  std::string error;
  ASSERT_TRUE(ListHidrawNodesInTree(tree.SysRoot(), tree.DevRoot(), nodes, error)) << error;
  EXPECT_EQ(nodes, (std::vector<std::string>{tree.Node(0), tree.Node(2), tree.Node(10)}));
}

TEST(HidrawEnumerationTest, MissingClassFolderIsAnError) {
  std::vector<std::string> nodes;
  std::string error;
  EXPECT_FALSE(ListHidrawNodesInTree("/nonexistent-sysfs", "/dev", nodes, error));
  EXPECT_NE(error.find("/nonexistent-sysfs/class/hidraw"), std::string::npos);
}

TEST(HidrawEnumerationTest, UdevListsEveryPresentNode) {
  std::vector<std::string> nodes;
  std::string error;
  if (!ListHidrawNodesWithUdev(nodes, error)) GTEST_SKIP() << "no udev here: " << error;
  std::size_t present = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/sys/class/hidraw", ec)) {
    present += HidrawMinorFromName(e.path().filename().string()).has_value();
  }
  if (present == 0) GTEST_SKIP() << "no hidraw device attached";
  EXPECT_EQ(nodes.size(), present);
}

}  // namespace
}  // namespace kt
