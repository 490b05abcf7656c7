#pragma once

#include <memory>
#include <optional>
#include <string>

#include "hid/hid_backend.h"
#include "hid/win32/win32_error.h"

namespace kt::win32 {

// The Windows HID stack: SetupAPI for the present interfaces, CreateFileA handles for the rest. Device
// arrival and removal reach the tool through the dialog's WM_DEVICECHANGE, not through here.
class Win32HidBackend final : public HidBackend {
 public:
  std::string Name() const override { return "win32"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;
  // The device's location (DeviceLocationOf); the path itself where the system knows none.
  std::string PortOf(const std::string& path) override;

  // Why the last ListInterfaces or Open returned null.
  const std::optional<Win32Error>& lastError() const { return lastError_; }

 private:
  std::optional<Win32Error> lastError_;
};

}  // namespace kt::win32
