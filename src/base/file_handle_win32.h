#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

namespace kt::win32 {

// One file handle, closed exactly once.
class FileHandle {
 public:
  FileHandle() = default;
  // INVALID_HANDLE_VALUE, CreateFileW's "none", is kept as none.
  explicit FileHandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~FileHandle() { Close(); }
  FileHandle(FileHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  FileHandle& operator=(FileHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // False when closing failed, which for a written file can mean its data did not all arrive.
  bool Close() {
    const bool closed = handle_ == nullptr || CloseHandle(handle_) != 0;
    handle_ = nullptr;
    return closed;
  }

 private:
  HANDLE handle_ = nullptr;
};

// Why the file open as `file` is not a regular file ("not a regular file (a folder)"), or empty when it is
// one. Only a file on a disk passes: a folder, a device (NUL, COM1, the console) and a pipe do not.
std::string NotRegularReason(HANDLE file);

// Whether `path` names a device whatever folder it is in ("NUL", "C:\out\com1.bin", "con:", the
// superscript "COM¹"), or lies in the device namespace (\\.\ and //./): looked at before anything is
// opened, since opening a device can do something to it.
bool IsDevicePath(std::string_view path);

}  // namespace kt::win32
