#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hid/hid_backend.h"
#include "hid/win32/hid_system.h"
#include "hid/win32/win32_error.h"

namespace kt::win32 {

// The two SetupAPI calls a walk over the present interfaces makes. Kept behind an interface so that the
// last-error rules of the walk can be exercised without devices.
class DeviceInterfaceSource {
 public:
  virtual ~DeviceInterfaceSource() = default;
  // SetupDiEnumDeviceInterfaces for `index`; `data.cbSize` is set by the caller.
  virtual BOOL Enumerate(DWORD index, SP_DEVICE_INTERFACE_DATA& data) = 0;
  // SetupDiGetDeviceInterfaceDetailA; `detail` may be null for the size query.
  virtual BOOL GetDetail(SP_DEVICE_INTERFACE_DATA& data, SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                         DWORD size, DWORD* required, SP_DEVINFO_DATA* info) = 0;
};

// The present HID interfaces in the system's order, one index at a time. The rules for each index:
//  - the thread's last error is cleared before the enumeration, and ERROR_NO_MORE_ITEMS afterwards ends
//    the list whatever the call returned (SetupAPI has been seen to return TRUE with it set);
//  - any other enumeration failure skips the index;
//  - the size query must fail with ERROR_INSUFFICIENT_BUFFER; anything else ends the walk;
//  - a detail buffer that cannot be had ends the walk; a failed detail fetch skips the index.
class InterfaceWalk final : public HidInterfaceList {
 public:
  explicit InterfaceWalk(std::unique_ptr<DeviceInterfaceSource> source);

  HidEnumStep Next(std::uint32_t index, std::string& path) override;

  // Why the last index was skipped or the walk ended, when a system call said so.
  const std::optional<Win32Error>& lastError() const { return lastError_; }

 private:
  std::unique_ptr<DeviceInterfaceSource> source_;
  std::optional<Win32Error> lastError_;
};

// The real source: the present interfaces of the HID class. Null when the system's list cannot be had;
// `error` then says why.
std::unique_ptr<DeviceInterfaceSource> OpenHidInterfaceSource(std::optional<Win32Error>& error);

}  // namespace kt::win32
