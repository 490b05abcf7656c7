#include "base/file_handle_win32.h"

#include "base/system_error_win32.h"

namespace kt::win32 {
namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string NotRegularReason(HANDLE file) {
  SetLastError(ERROR_SUCCESS);
  const DWORD type = GetFileType(file);
  if (type == FILE_TYPE_CHAR) return "not a regular file (a device)";
  if (type == FILE_TYPE_PIPE) return "not a regular file (a pipe)";
  if (type != FILE_TYPE_DISK) {
    return GetLastError() != ERROR_SUCCESS ? LastErrorText("GetFileType") : "not a regular file";
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) return LastErrorText("GetFileInformationByHandle");
  if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return "not a regular file (a folder)";
  return std::string();
}

bool IsDevicePath(std::string_view path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '.' &&
      IsSeparator(path[3])) {
    return true;
  }
  std::size_t start = path.find_last_of("\\/");
  start = start == std::string_view::npos ? 0 : start + 1;
  if (start == 0 && path.size() >= 2 && path[1] == ':') start = 2;  // "C:nul"
  std::string_view name = path.substr(start);
  // The system ignores what follows the first dot or colon, and trailing spaces, of a device's name.
  name = name.substr(0, name.find_first_of(".:"));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  std::string upper;
  for (char c : name) upper += Upper(c);
  if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
      upper == "CONOUT$") {
    return true;
  }
  if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) return false;
  const std::string_view number = std::string_view(upper).substr(3);
  // A digit, or a superscript 1, 2 or 3 (UTF-8 C2 B9, C2 B2, C2 B3).
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace kt::win32
