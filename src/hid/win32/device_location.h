#pragma once

#include <string>

namespace kt::win32 {

// Where the device behind a HID interface path is plugged in: the first location path of the interface's
// device node or of a node above it ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)"), else the instance part
// of the USB device's ID, which names the port for a device without a serial number. Empty when the
// system knows neither. Under Wine, whose HID bus gives no location and no parent, a board with a serial
// number is named by its HID instance instead (PortFromWineHidId): the same board keeps it across a
// re-plug, under another product ID too; it names the board rather than the place.
std::string DeviceLocationOf(const std::string& interfacePath);

// "HID\" and the version and serial number of a HID node's instance as Wine's bus makes it
// ("256&kt7310-board-812&0&0": version, serial number, unique ID, index), from the node's ID or its
// interface path; empty without a serial number or for anything else.
std::string PortFromWineHidId(const std::string& idOrPath);

}  // namespace kt::win32
