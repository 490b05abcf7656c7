#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kt {

// What sysfs tells about one hidraw node without opening it: the IDs of its HID device and that device's
// report descriptor. `sysfsRoot` is "/sys" on a real system and a fixture tree in tests.
struct HidrawNodeInfo {
  bool hasIds = false;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  bool hasDescriptor = false;
  std::vector<std::uint8_t> descriptor;
};

// `nodeName` is the node's name, "hidraw3"; its HID device is <sysfsRoot>/class/hidraw/hidraw3/device.
// Fills what it can find; false (with the reason) only when the node is not in sysfs at all.
bool ReadHidrawNodeInfo(const std::string& sysfsRoot, const std::string& nodeName, HidrawNodeInfo& info,
                        std::string& error);

// The name sysfs gives the USB device above hidraw node `nodeName`: its port path ("1-1.3"), the same
// for whatever board is plugged into that port. Empty when the node has no USB device above it (uhid).
std::string UsbPortOfHidrawNode(const std::string& sysfsRoot, const std::string& nodeName);

// The port of the USB device a sysfs device path runs through: the deepest USB device on it, named as
// sysfs names it ("/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.3/1-1.3:1.0/0003:3B7D:7310.0004/hidraw/hidraw0"
// gives "1-1.3"). Read from the path alone, so it works for a device that is already gone. Empty when the
// path runs through no USB device (a root hub's own path, uhid).
std::string UsbPortInDevicePath(const std::string& devicePath);

// The HID_ID property of a HID device's uevent, "HID_ID=0003:00003B7D:00007310" (bus:vendor:product).
bool ParseHidIdProperty(const std::string& uevent, std::uint16_t& vendorId, std::uint16_t& productId);

// The minor number of "hidrawN" (N itself: the kernel names each node after its minor), or nothing.
std::optional<unsigned> HidrawMinorFromName(const std::string& nodeName);

}  // namespace kt
