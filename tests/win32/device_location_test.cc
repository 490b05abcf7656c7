#include "hid/win32/device_location.h"

#include <gtest/gtest.h>

namespace kt::win32 {
namespace {

// Under Wine a port is named by the board's HID instance: it must stay the same when the board comes
// back under another product ID, and must never give two boards without a serial number one name.
TEST(PortFromWineHidIdTest, NamesABoardBySerialNumberOnly) {
  const struct {
    const char* deviceId;
    const char* port;
  } cases[] = {
      {"HID\\VID_3B7D&PID_7310&MI_00\\256&kt7310-board-812&0&0", "HID\\256&kt7310-board-812&0&0"},
      {"HID\\VID_3B7D&PID_72F7&MI_00\\256&kt7310-board-812&0&0", "HID\\256&kt7310-board-812&0&0"},
      {"HID\\VID_3B7D&PID_72F7\\256&kt7310-board-812&0&0", "HID\\256&kt7310-board-812&0&0"},
      {"HID\\VID_3B7D&PID_72F7&MI_00\\256&0000&0&1", ""},  // no serial number: the index follows the PID
      {"HID\\VID_3B7D&PID_72F7&MI_00\\256&&0&1", ""},
      {"USB\\VID_3B7D&PID_72F7\\5&2A1B3C&0&3", ""},  // not a HID node
      {"HID\\VID_3B7D&PID_72F7&MI_00\\kt7310-board-812", ""},
      {"HID\\256&kt7310-board-812&0&0", ""},  // no device part
      {"HID\\", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortFromWineHidId(c.deviceId), c.port) << c.deviceId;
  }
}

}  // namespace
}  // namespace kt::win32
