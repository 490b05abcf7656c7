#pragma once

#include <windows.h>

#include <string>

#include "base/system_error_win32.h"

namespace kt::win32 {

// A failed system call: which operation, the error code and the system's own words for it, so that a
// failure can be told apart from "no such device" when someone has to find out why a board is not seen.
class Win32Error {
 public:
  Win32Error(std::string operation, DWORD code);

  const std::string& operation() const { return operation_; }
  DWORD code() const { return code_; }
  // "CreateFileA: The system cannot find the file specified. (2)"
  const std::string& what() const { return what_; }

 private:
  std::string operation_;
  DWORD code_;
  std::string what_;
};

// The error the calling thread's last system call left behind.
Win32Error LastWin32Error(std::string operation);

}  // namespace kt::win32
