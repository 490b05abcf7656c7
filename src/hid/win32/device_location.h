#pragma once

#include <string>

namespace kt::win32 {

// Where the device behind a HID interface path is plugged in: the first location path of the interface's
// device node or of a node above it ("PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)"), else the instance part
// of the USB device's ID, which names the port for a device without a serial number. Empty when the
// system knows neither.
std::string DeviceLocationOf(const std::string& interfacePath);

}  // namespace kt::win32
