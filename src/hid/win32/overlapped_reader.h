#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/win32/scoped_handle.h"
#include "hid/win32/win32_error.h"

namespace kt::win32 {

// One object owns everything an overlapped read touches: the OVERLAPPED record, its manual-reset event
// and the buffer the system writes into. The caller's buffer is only ever written by a plain copy from
// ours, inside Read(). A timed-out read is cancelled and then waited for before Read() returns.
//
// A read is always waiting before a request goes out: one is posted when the reader is made (when the
// report length is known), and again before Read() returns, after a report and after a time-out alike.
// Wine's HID class driver can strand a report that arrives while a read request is being queued (it
// looks for a queued report and queues the read in two steps, under no lock that covers both); the
// report then sits in the queue with the read waiting beside it until the time-out. The posted read
// lives in our buffer and record until the next Read() takes it, or the destructor cancels and waits for it.
//
// The wait for a cancelled read is bounded too: a driver that never finishes it (Wine's HID class driver
// has been seen to) must not hang the job. The record, event and buffer of such a read are then left to
// the system for good (never freed, so a late completion writes into memory that is still ours) and the
// reader goes on with new ones.
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
  // Cancels the read posted ahead, if any, and waits for it.
  void Cancel();

  const std::optional<Win32Error>& lastError() const { return lastError_; }

 private:
  // Cancels the read in progress and waits until the system is done with the record and the buffer.
  void CancelAndWait();
  // Starts a read of `length` bytes into buffer_; false (with lastError_) when it could not start.
  bool Post(std::size_t length);
  // Starts the read the next request's answer will find waiting; a failure is left to the next Read().
  void PostAhead(std::size_t length);

  // Everything the system may still write while a read is in flight, in one block of its own.
  struct Slot {
    ScopedHandle event;
    OVERLAPPED overlapped{};
    std::vector<std::uint8_t> buffer;
    DWORD postedCount = 0;  // what ReadFile reported when the pending read was posted
  };
  static std::unique_ptr<Slot> MakeSlot(std::optional<Win32Error>& error);

  HANDLE device_;
  std::size_t reportLength_;
  std::unique_ptr<Slot> slot_;
  bool pending_ = false;
  std::optional<Win32Error> lastError_;
};

}  // namespace kt::win32
