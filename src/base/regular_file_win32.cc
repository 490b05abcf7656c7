#include <windows.h>

#include "base/file_handle_win32.h"
#include "base/regular_file.h"
#include "base/system_error_win32.h"
#include "base/utf8_path_win32.h"

namespace kt {

bool ReadRegularFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
                     std::string& error) {
  // Backup semantics lets a folder be opened too, so that it is refused for what it is rather than with
  // "Access is denied". A device name is refused before it is opened.
  if (win32::IsDevicePath(path)) {
    error = path + ": not a regular file (a device)";
    return false;
  }
  win32::FileHandle file(CreateFileW(win32::WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    error = path + ": " + win32::LastErrorText("CreateFileW");
    return false;
  }
  if (const std::string reason = win32::NotRegularReason(file.get()); !reason.empty()) {
    error = path + ": " + reason;
    return false;
  }
  const std::size_t want = limit < SIZE_MAX ? limit + 1 : limit;
  std::vector<std::uint8_t> read;
  while (read.size() < want) {
    const std::size_t done = read.size();
    const DWORD piece = static_cast<DWORD>(want - done < 0x10000 ? want - done : 0x10000);
    read.resize(done + piece);
    DWORD got = 0;
    if (!ReadFile(file.get(), read.data() + done, piece, &got, nullptr)) {
      error = path + ": " + win32::LastErrorText("ReadFile");
      return false;
    }
    read.resize(done + got);
    if (got == 0) break;
  }
  bytes = std::move(read);
  return true;
}

}  // namespace kt
