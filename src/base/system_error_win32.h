#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace kt::win32 {

// The system's message for `code` as UTF-8, without the trailing line break; "error N" when it has none.
std::string SystemMessage(DWORD code);

// "CreateFileW: The system cannot find the file specified. (2)": the failed call, the system's words and
// the code, so that a report can be told apart from "no such thing" when someone has to find out why.
std::string ErrorText(std::string_view operation, DWORD code);

// ErrorText of the calling thread's last error.
std::string LastErrorText(std::string_view operation);

}  // namespace kt::win32
