#include <windows.h>

#include "base/atomic_file.h"

namespace kt {

bool WriteFileAtomically(const std::string& path, const std::uint8_t* data, std::size_t length,
                         std::string& error) {
  const std::string temporary = path + ".tmp-" + std::to_string(GetCurrentProcessId());
  HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = temporary + ": cannot be created (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < length) {
    DWORD wrote = 0;
    const DWORD piece = length - done > 0x10000000u ? 0x10000000u : static_cast<DWORD>(length - done);
    ok = WriteFile(file, data + done, piece, &wrote, nullptr) != 0 && wrote > 0;
    done += wrote;
  }
  ok = ok && FlushFileBuffers(file) != 0;
  ok = CloseHandle(file) != 0 && ok;
  if (ok &&
      MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  error = path + ": cannot be written (error " + std::to_string(GetLastError()) + ")";
  DeleteFileA(temporary.c_str());
  return false;
}

}  // namespace kt
