#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "hid/hid_backend.h"
#include "hid/win32/overlapped_reader.h"
#include "hid/win32/scoped_handle.h"
#include "hid/win32/win32_error.h"

namespace kt::win32 {

// One CreateFileA handle on a HID device path. An overlapped one (for input reports) carries its reader.
class Win32HidDevice final : public HidDeviceHandle {
 public:
  // Null when the path cannot be opened; `error` then says why.
  static std::unique_ptr<Win32HidDevice> Open(const std::string& path, HidOpenMode mode,
                                              std::optional<Win32Error>& error);
  ~Win32HidDevice() override;

  bool GetAttributes(HidAttributes& out) override;
  bool GetCaps(HidCaps& out) override;
  bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override;
  HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) override;
  void CancelRead() override;
  void CancelWrite() override;

  // Why the last call on this handle failed, with the system's words for it.
  const std::optional<Win32Error>& lastError() const { return lastError_; }

 private:
  Win32HidDevice(ScopedHandle handle, HidOpenMode mode);

  ScopedHandle handle_;
  HidOpenMode mode_;
  std::unique_ptr<OverlappedReader> reader_;  // overlapped handles only; destroyed before handle_
  std::optional<Win32Error> lastError_;
  // The write in progress, for CancelWrite: WriteFile on this synchronous handle has no time-out (the HID
  // class driver keeps the request until the device takes the report), so Exit cancels it on the thread
  // that made it.
  std::mutex writeMutex_;
  ScopedHandle writerThread_;  // a real handle on the thread of the current write; null between writes
  bool writesCancelled_ = false;
};

}  // namespace kt::win32
