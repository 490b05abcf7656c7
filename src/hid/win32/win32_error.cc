#include "hid/win32/win32_error.h"

#include <utility>

namespace kt::win32 {

Win32Error::Win32Error(std::string operation, DWORD code)
    : operation_(std::move(operation)), code_(code), what_(ErrorText(operation_, code)) {}

Win32Error LastWin32Error(std::string operation) {
  return Win32Error(std::move(operation), GetLastError());
}

}  // namespace kt::win32
