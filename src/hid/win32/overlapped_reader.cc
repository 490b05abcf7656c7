#include "hid/win32/overlapped_reader.h"

#include <algorithm>
#include <cstring>

namespace kt::win32 {

OverlappedReader::OverlappedReader(HANDLE device, std::size_t reportLength)
    : device_(device), reportLength_(reportLength) {
  // Manual reset, created signalled, as the read event always was; every read resets it first.
  event_.reset(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  if (!event_) lastError_ = LastWin32Error("CreateEventA");
}

OverlappedReader::~OverlappedReader() {
  Cancel();
}

void OverlappedReader::Cancel() {
  if (pending_) CancelAndWait();
}

void OverlappedReader::CancelAndWait() {
  // CancelIo only asks; the read may still be finishing. GetOverlappedResult with bWait=TRUE returns once
  // the system no longer owns overlapped_ and buffer_ (hidapi once freed the buffer before this point).
  CancelIo(device_);
  DWORD ignored = 0;
  GetOverlappedResult(device_, &overlapped_, &ignored, TRUE);
  pending_ = false;
}

bool OverlappedReader::Post(std::size_t length) {
  if (buffer_.size() < length) buffer_.resize(length);
  ResetEvent(event_.get());
  overlapped_ = OVERLAPPED{};
  overlapped_.hEvent = event_.get();
  postedCount_ = 0;
  const BOOL started =
      ReadFile(device_, buffer_.data(), static_cast<DWORD>(length), &postedCount_, &overlapped_);
  if (!started && GetLastError() != ERROR_IO_PENDING) {
    // Nothing is in flight, so nothing would ever signal the event: say so now rather than wait out the
    // time-out on an event no one will set.
    lastError_ = LastWin32Error("ReadFile");
    ResetEvent(event_.get());
    return false;
  }
  // Finished at once or not, the system signals the event when it is done with the record.
  pending_ = true;
  return true;
}

HidReadResult OverlappedReader::Read(std::uint8_t* out, std::size_t capacity, std::uint32_t timeoutMs) {
  HidReadResult result;
  lastError_.reset();
  if (!event_) {
    lastError_.emplace("CreateEventA", ERROR_INVALID_HANDLE);
    return result;
  }
  // The HID class driver refuses reads shorter than the input report, so the read always asks for the
  // whole report and the caller gets as much of it as it can take.
  const std::size_t length = reportLength_ != 0 ? reportLength_ : capacity;
  // The read posted at the end of the previous call may already hold this report.
  if (!pending_ && !Post(length)) return result;

  const DWORD wait = WaitForSingleObject(event_.get(), timeoutMs);
  if (wait == WAIT_OBJECT_0) {
    DWORD transferred = 0;
    const BOOL completed = GetOverlappedResult(device_, &overlapped_, &transferred, FALSE);
    pending_ = false;
    if (completed) {
      std::memcpy(out, buffer_.data(), std::min<std::size_t>(transferred, capacity));
      result.status = HidReadResult::Status::kCompleted;
      // The count ReadFile itself reported: 0 when it returned pending; the protocol then takes the input
      // report length.
      result.byteCount = postedCount_;
      // The next answer's read, ahead of the next request. Should it not start (the board has gone), the
      // next Read() tries again and reports why.
      if (!Post(length)) lastError_.reset();
      return result;
    }
    // A read that ended in an error (the board was pulled) is not a report: passing it up as one would
    // let the protocol match a tag left in its buffer by the previous answer.
    lastError_ = LastWin32Error("ReadFile");
  } else if (wait == WAIT_TIMEOUT) {
    CancelAndWait();
    result.status = HidReadResult::Status::kTimedOut;
  } else {
    lastError_ = LastWin32Error("WaitForSingleObject");
    CancelAndWait();
  }
  ResetEvent(event_.get());
  return result;
}

}  // namespace kt::win32
