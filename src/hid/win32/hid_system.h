#pragma once

// The system headers of the HID class driver and SetupAPI, in the order they need each other.
#include <windows.h>
// windows.h first: the headers below use its types.
#include <setupapi.h>
// MinGW's HID headers declare their functions without C linkage; hidsdi.h pulls in hidpi.h.
extern "C" {
#include <hidsdi.h>
}

#include <optional>

#include "base/system_dll_win32.h"
#include "hid/win32/scoped_handle.h"
#include "hid/win32/win32_error.h"

namespace kt::win32 {

// The HID class driver's calls, taken from System32's hid.dll (never imported: see SystemDll).
struct HidFunctions {
  static constexpr const wchar_t* kDll = L"hid.dll";
  decltype(&HidD_GetHidGuid) GetHidGuid = nullptr;
  decltype(&HidD_GetAttributes) GetAttributes = nullptr;
  decltype(&HidD_GetPreparsedData) GetPreparsedData = nullptr;
  decltype(&HidD_FreePreparsedData) FreePreparsedData = nullptr;
  decltype(&HidP_GetCaps) GetCaps = nullptr;
  decltype(&HidP_GetValueCaps) GetValueCaps = nullptr;
  bool Bind(SystemDll& dll);
};

// The table, or null with `error` naming the DLL or the function that is missing.
const HidFunctions* Hid(std::optional<Win32Error>& error);

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
  // Only data that HidD_GetPreparsedData gave is released, so the table is there.
  static void Release(Type p) {
    std::optional<Win32Error> unused;
    Hid(unused)->FreePreparsedData(p);
  }
};
using ScopedPreparsedData = Scoped<PreparsedDataTraits>;

}  // namespace kt::win32
