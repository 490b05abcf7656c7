#include "base/utf8_path_win32.h"

// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

namespace kt::win32 {

std::wstring WidePath(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::vector<std::string> ArgumentsOfCommandLine(const wchar_t* commandLine) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine, &count);
  if (argv == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8FromWide(argv[i]));
  LocalFree(argv);
  return args;
}

}  // namespace kt::win32
