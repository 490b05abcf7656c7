#include "base/system_error_win32.h"

#include "base/utf8_path_win32.h"

namespace kt::win32 {

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0 || text == nullptr) return "error " + std::to_string(code);
  std::string message = Utf8FromWide(std::wstring_view(text, length));
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

std::string ErrorText(std::string_view operation, DWORD code) {
  return std::string(operation) + ": " + SystemMessage(code) + " (" + std::to_string(code) + ")";
}

std::string LastErrorText(std::string_view operation) {
  return ErrorText(operation, GetLastError());
}

}  // namespace kt::win32
