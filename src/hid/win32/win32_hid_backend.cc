#include "hid/win32/win32_hid_backend.h"

#include "hid/win32/device_handle.h"
#include "hid/win32/device_location.h"
#include "hid/win32/interface_walk.h"

namespace kt {
namespace win32 {

std::unique_ptr<HidInterfaceList> Win32HidBackend::ListInterfaces() {
  lastError_.reset();
  auto source = OpenHidInterfaceSource(lastError_);
  if (!source) return nullptr;
  return std::make_unique<InterfaceWalk>(std::move(source));
}

std::unique_ptr<HidDeviceHandle> Win32HidBackend::Open(const std::string& path, HidOpenMode mode) {
  lastError_.reset();
  return Win32HidDevice::Open(path, mode, lastError_);
}

std::string Win32HidBackend::PortOf(const std::string& path) {
  const std::string location = DeviceLocationOf(path);
  return location.empty() ? path : location;
}

}  // namespace win32

std::unique_ptr<HidBackend> CreatePlatformHidBackend() {
  return std::make_unique<win32::Win32HidBackend>();
}

}  // namespace kt
