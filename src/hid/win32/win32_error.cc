#include "hid/win32/win32_error.h"

#include <utility>

namespace kt::win32 {

Win32Error::Win32Error(std::string operation, DWORD code)
    : operation_(std::move(operation)),
      code_(code),
      what_(operation_ + ": " + SystemMessage(code) + " (" + std::to_string(code) + ")") {}

Win32Error LastWin32Error(std::string operation) {
  return Win32Error(std::move(operation), GetLastError());
}

std::string SystemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return "error " + std::to_string(code);
  std::string message(text, length);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

}  // namespace kt::win32
