#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "hid/win32/scoped_handle.h"

namespace kt::win32 {

// A named pipe standing in for a HID device: the tool's side opens the path as it would a device path,
// the test's side (the "device") writes input reports into it and reads what the tool wrote.
class PipePair {
 public:
  PipePair() {
    static std::atomic<int> serial{0};
    path_ = "\\\\.\\pipe\\kt7310-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(serial.fetch_add(1));
    device_.reset(CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_WAIT, 1, 4096,
                                   4096, 0, nullptr));
  }

  const std::string& path() const { return path_; }
  bool valid() const { return device_.valid(); }

  // Opens the tool's end the way the backend opens a device; connects the pipe.
  ScopedHandle OpenToolEnd(DWORD flags) {
    ScopedHandle end(CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr));
    Connect();
    return end;
  }
  void Connect() {
    if (!ConnectNamedPipe(device_.get(), nullptr)) {
      // Already connected when the tool's end was opened first, which is how these tests go.
    }
  }

  bool Send(const std::vector<std::uint8_t>& report) {
    DWORD written = 0;
    return WriteFile(device_.get(), report.data(), static_cast<DWORD>(report.size()), &written, nullptr) &&
           written == report.size();
  }
  std::vector<std::uint8_t> Receive() {
    std::vector<std::uint8_t> data(256);
    DWORD count = 0;
    if (!ReadFile(device_.get(), data.data(), static_cast<DWORD>(data.size()), &count, nullptr)) count = 0;
    data.resize(count);
    return data;
  }
  // Bytes written by the tool and not read yet.
  DWORD Available() {
    DWORD available = 0;
    if (!PeekNamedPipe(device_.get(), nullptr, 0, nullptr, &available, nullptr)) return 0;
    return available;
  }
  // The board is pulled: the tool's reads fail from now on.
  void Unplug() { device_.reset(); }

 private:
  std::string path_;
  ScopedHandle device_;
};

}  // namespace kt::win32
