#include "hid/win32/overlapped_reader.h"

#include <algorithm>
#include <cstring>

namespace kt::win32 {
namespace {

// How long a cancelled read may take to finish before it is left to the system.
constexpr DWORD kCancelBoundMs = 2000;

}  // namespace

std::unique_ptr<OverlappedReader::Slot> OverlappedReader::MakeSlot(std::optional<Win32Error>& error) {
  auto slot = std::make_unique<Slot>();
  // Manual reset, created signalled, as the read event always was; every read resets it first.
  slot->event.reset(CreateEventA(nullptr, TRUE, TRUE, nullptr));
  if (!slot->event) error = LastWin32Error("CreateEventA");
  return slot;
}

OverlappedReader::OverlappedReader(HANDLE device, std::size_t reportLength)
    : device_(device), reportLength_(reportLength), slot_(MakeSlot(lastError_)) {
  // The answer to the link's first request finds a read waiting too.
  if (reportLength_ != 0 && slot_->event) PostAhead(reportLength_);
}

OverlappedReader::~OverlappedReader() {
  Cancel();
}

void OverlappedReader::Cancel() {
  if (pending_) CancelAndWait();
}

void OverlappedReader::CancelAndWait() {
  // Cancelling only asks; the read may still be finishing. Once the event is set the system no longer
  // owns the record and the buffer (hidapi once freed the buffer before this point).
  CancelIoEx(device_, &slot_->overlapped);
  pending_ = false;
  if (WaitForSingleObject(slot_->event.get(), kCancelBoundMs) == WAIT_OBJECT_0) {
    DWORD ignored = 0;
    GetOverlappedResult(device_, &slot_->overlapped, &ignored, FALSE);
    return;
  }
  // Never finished: the system keeps this slot for good, and the reader takes a new one.
  lastError_.emplace("CancelIoEx", ERROR_OPERATION_ABORTED);
  static_cast<void>(slot_.release());
  slot_ = MakeSlot(lastError_);
}

bool OverlappedReader::Post(std::size_t length) {
  Slot& slot = *slot_;
  if (slot.buffer.size() < length) slot.buffer.resize(length);
  ResetEvent(slot.event.get());
  slot.overlapped = OVERLAPPED{};
  slot.overlapped.hEvent = slot.event.get();
  slot.postedCount = 0;
  const BOOL started =
      ReadFile(device_, slot.buffer.data(), static_cast<DWORD>(length), &slot.postedCount, &slot.overlapped);
  if (!started && GetLastError() != ERROR_IO_PENDING) {
    // Nothing is in flight, so nothing would ever signal the event: say so now rather than wait out the
    // time-out on an event no one will set.
    lastError_ = LastWin32Error("ReadFile");
    ResetEvent(slot.event.get());
    return false;
  }
  // Finished at once or not, the system signals the event when it is done with the record.
  pending_ = true;
  return true;
}

void OverlappedReader::PostAhead(std::size_t length) {
  // Should it not start (the board has gone), the next Read() tries again and reports why.
  if (!Post(length)) lastError_.reset();
}

HidReadResult OverlappedReader::Read(std::uint8_t* out, std::size_t capacity, std::uint32_t timeoutMs) {
  HidReadResult result;
  lastError_.reset();
  if (!slot_->event) {
    lastError_.emplace("CreateEventA", ERROR_INVALID_HANDLE);
    return result;
  }
  // The HID class driver refuses reads shorter than the input report, so the read always asks for the
  // whole report and the caller gets as much of it as it can take.
  const std::size_t length = reportLength_ != 0 ? reportLength_ : capacity;
  // The read posted at the end of the previous call may already hold this report.
  if (!pending_ && !Post(length)) return result;

  const DWORD wait = WaitForSingleObject(slot_->event.get(), timeoutMs);
  if (wait == WAIT_OBJECT_0) {
    DWORD transferred = 0;
    const BOOL completed = GetOverlappedResult(device_, &slot_->overlapped, &transferred, FALSE);
    pending_ = false;
    if (completed) {
      std::memcpy(out, slot_->buffer.data(), std::min<std::size_t>(transferred, capacity));
      result.status = HidReadResult::Status::kCompleted;
      // The count ReadFile itself reported: 0 when it returned pending; the protocol then takes the input
      // report length.
      result.byteCount = slot_->postedCount;
      // The next answer's read, ahead of the next request.
      PostAhead(length);
      return result;
    }
    // A read that ended in an error (the board was pulled) is not a report: passing it up as one would
    // let the protocol match a tag left in its buffer by the previous answer.
    lastError_ = LastWin32Error("ReadFile");
  } else if (wait == WAIT_TIMEOUT) {
    CancelAndWait();
    result.status = HidReadResult::Status::kTimedOut;
    // The request that follows (a retry, the next block) gets a read waiting for its answer as well.
    PostAhead(length);
    return result;
  } else {
    lastError_ = LastWin32Error("WaitForSingleObject");
    CancelAndWait();
  }
  ResetEvent(slot_->event.get());
  return result;
}

}  // namespace kt::win32
