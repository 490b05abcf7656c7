#pragma once

// The system headers of the HID class driver and SetupAPI, in the order they need each other.
#include <windows.h>
// windows.h first: the headers below use its types.
#include <setupapi.h>
// MinGW's HID headers declare their functions without C linkage; hidsdi.h pulls in hidpi.h.
extern "C" {
#include <hidsdi.h>
}

#include "hid/win32/scoped_handle.h"

namespace kt::win32 {

// The list SetupDiGetClassDevsA hands out; its "none" is INVALID_HANDLE_VALUE.
struct DeviceInfoListTraits {
  using Type = HDEVINFO;
  static inline const Type kNone = INVALID_HANDLE_VALUE;
  static bool IsValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Release(Type h) { SetupDiDestroyDeviceInfoList(h); }
};
using ScopedDeviceInfoList = Scoped<DeviceInfoListTraits>;

// The HID class driver's parsed report descriptor of one open device.
struct PreparsedDataTraits {
  using Type = PHIDP_PREPARSED_DATA;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type p) { return p != nullptr; }
  static void Release(Type p) { HidD_FreePreparsedData(p); }
};
using ScopedPreparsedData = Scoped<PreparsedDataTraits>;

}  // namespace kt::win32
