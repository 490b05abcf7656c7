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
      {"HID\\VID_3B7D&PID_7310&MI_00\\256&kt7310-board-812&0&0", "HID\\256&kt7310-board-812"},
      {"HID\\VID_3B7D&PID_72F7&MI_00\\256&kt7310-board-812&0&2", "HID\\256&kt7310-board-812"},
      {"\\\\?\\hid#vid_3b7d&pid_7310&mi_00#256&kt7310-board-812&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}",
       "HID\\256&kt7310-board-812"},
      {"\\\\?\\hid#vid_3b7d&pid_72f7&mi_00#256&kt7310-board-812&0&1#{4d1e55b2-f16f-11cf-88cb-001111000030}",
       "HID\\256&kt7310-board-812"},
      {"HID\\VID_3B7D&PID_72F7&MI_00\\256&0000&0&1", ""},  // no serial number: the index follows the PID
      {"\\\\?\\hid#vid_3b7d&pid_72f7&mi_00#256&0000&0&0#{4d1e55b2-f16f-11cf-88cb-001111000030}", ""},
      {"HID\\VID_3B7D&PID_72F7&MI_00\\256&&0&1", ""},
      {"USB\\VID_3B7D&PID_72F7\\5&2A1B3C&0&3", ""},  // not a HID node
      {"HID\\VID_3B7D&PID_72F7&MI_00\\kt7310-board-812", ""},
      {"HID\\256&kt7310-board-812&0&0", ""},  // no device part
      {"\\\\?\\hid#vid_3b7d&pid_72f7&mi_00#256&kt7310-board-812&0&0", ""},  // cut short
      {"HID\\", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PortFromWineHidId(c.deviceId), c.port) << c.deviceId;
  }
}

}  // namespace
}  // namespace kt::win32
