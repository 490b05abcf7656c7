#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/win32/scoped_handle.h"
#include "hid/win32/win32_error.h"

namespace kt::win32 {

// One object owns everything an overlapped read touches: the OVERLAPPED record, its manual-reset event
// and the buffer the system writes into. A read never outlives Read(): a timed-out read is cancelled and
// then waited for, so neither the record nor the buffer can be written after Read() has returned, and the
// caller's buffer is only ever written by a plain copy from ours.
class OverlappedReader {
 public:
  // `device` must have been opened with FILE_FLAG_OVERLAPPED and outlive the reader. `reportLength` is the
  // device's input report length (report-ID byte included); 0 when unknown, and then each read asks for
  // as many bytes as its caller can take.
  OverlappedReader(HANDLE device, std::size_t reportLength);
  ~OverlappedReader();
  OverlappedReader(const OverlappedReader&) = delete;
  OverlappedReader& operator=(const OverlappedReader&) = delete;

  HidReadResult Read(std::uint8_t* out, std::size_t capacity, std::uint32_t timeoutMs);
  // Cancels a read still in progress and waits for it. Reads do not outlive Read(), so this only matters
  // should one ever be left behind.
  void Cancel();

  const std::optional<Win32Error>& lastError() const { return lastError_; }

 private:
  // Cancels the read in progress and waits until the system is done with the record and the buffer.
  void CancelAndWait();

  HANDLE device_;
  std::size_t reportLength_;
  ScopedHandle event_;
  OVERLAPPED overlapped_{};
  std::vector<std::uint8_t> buffer_;
  bool pending_ = false;
  std::optional<Win32Error> lastError_;
};

}  // namespace kt::win32
