#include "hid/win32/device_handle.h"

#include <utility>
#include <vector>

#include "hid/win32/hid_system.h"

namespace kt::win32 {
namespace {

// The capabilities the HID class driver parsed from the device's report descriptor. Every temporary is
// released on every path.
bool QueryCaps(HANDLE handle, HidCaps& out, std::optional<Win32Error>& error) {
  const HidFunctions* hid = Hid(error);
  if (hid == nullptr) return false;
  PHIDP_PREPARSED_DATA raw = nullptr;
  if (!hid->GetPreparsedData(handle, &raw)) {
    error = LastWin32Error("HidD_GetPreparsedData");
    return false;
  }
  ScopedPreparsedData preparsed(raw);

  HIDP_CAPS caps{};
  const NTSTATUS capsStatus = hid->GetCaps(preparsed.get(), &caps);
  if (capsStatus != HIDP_STATUS_SUCCESS) {
    error.emplace("HidP_GetCaps", static_cast<DWORD>(capsStatus));
    return false;
  }
  out.inputReportByteLength = caps.InputReportByteLength;
  out.outputReportByteLength = caps.OutputReportByteLength;
  out.outputValueCaps.clear();
  if (caps.NumberOutputValueCaps > 0) {
    std::vector<HIDP_VALUE_CAPS> values(caps.NumberOutputValueCaps);
    USHORT count = caps.NumberOutputValueCaps;
    const NTSTATUS valueStatus = hid->GetValueCaps(HidP_Output, values.data(), &count, preparsed.get());
    if (valueStatus != HIDP_STATUS_SUCCESS) {
      error.emplace("HidP_GetValueCaps", static_cast<DWORD>(valueStatus));
      return false;
    }
    // The call may hand back fewer entries than the caps announced.
    values.resize(count < values.size() ? count : values.size());
    for (const HIDP_VALUE_CAPS& value : values) {
      out.outputValueCaps.push_back(HidValueCaps{value.UsagePage, value.ReportID});
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<Win32HidDevice> Win32HidDevice::Open(const std::string& path, HidOpenMode mode,
                                                     std::optional<Win32Error>& error) {
  const DWORD flags = mode == HidOpenMode::kOverlappedRead ? FILE_FLAG_OVERLAPPED : 0;
  ScopedHandle handle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags,
                                  nullptr));
  if (!handle) {
    error = LastWin32Error("CreateFileA");
    return nullptr;
  }
  return std::unique_ptr<Win32HidDevice>(new Win32HidDevice(std::move(handle), mode));
}

Win32HidDevice::Win32HidDevice(ScopedHandle handle, HidOpenMode mode)
    : handle_(std::move(handle)), mode_(mode) {
  if (mode_ != HidOpenMode::kOverlappedRead) return;
  // Reads must ask for the whole input report. A path that is not a HID device has no report length;
  // its reads then ask for what the caller can take.
  HidCaps caps;
  std::optional<Win32Error> ignored;
  const std::size_t reportLength = QueryCaps(handle_.get(), caps, ignored) ? caps.inputReportByteLength : 0;
  reader_ = std::make_unique<OverlappedReader>(handle_.get(), reportLength);
}

Win32HidDevice::~Win32HidDevice() {
  reader_.reset();
}

bool Win32HidDevice::GetAttributes(HidAttributes& out) {
  const HidFunctions* hid = Hid(lastError_);
  if (hid == nullptr) return false;
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof(attributes);
  if (!hid->GetAttributes(handle_.get(), &attributes)) {
    lastError_ = LastWin32Error("HidD_GetAttributes");
    return false;
  }
  out.vendorId = attributes.VendorID;
  out.productId = attributes.ProductID;
  return true;
}

bool Win32HidDevice::GetCaps(HidCaps& out) {
  return QueryCaps(handle_.get(), out, lastError_);
}

bool Win32HidDevice::WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) {
  written = 0;
  if (mode_ != HidOpenMode::kPlain) {
    // A synchronous WriteFile on an overlapped handle is undefined; reports go out on the plain handle.
    lastError_.emplace("WriteFile", ERROR_INVALID_FUNCTION);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(writeMutex_);
    if (writesCancelled_) {
      lastError_.emplace("WriteFile", ERROR_OPERATION_ABORTED);
      return false;
    }
    // GetCurrentThread() is a pseudo-handle that would name the cancelling thread instead.
    writerThread_.reset(OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId()));
  }
  DWORD count = 0;
  const BOOL ok = WriteFile(handle_.get(), data, static_cast<DWORD>(length), &count, nullptr);
  const std::optional<Win32Error> error =
      ok ? std::nullopt : std::optional<Win32Error>(LastWin32Error("WriteFile"));
  {
    std::lock_guard<std::mutex> lock(writeMutex_);
    writerThread_.reset();
  }
  if (error) {
    lastError_ = error;
    return false;
  }
  written = count;
  return true;
}

void Win32HidDevice::CancelWrite() {
  std::lock_guard<std::mutex> lock(writeMutex_);
  writesCancelled_ = true;
  // A cancel that comes between the check above and the moment WriteFile starts waiting finds nothing to
  // cancel; Exit's last bound covers that write (the process ends without it).
  if (writerThread_) CancelSynchronousIo(writerThread_.get());
}

HidReadResult Win32HidDevice::ReadReport(std::uint8_t* buffer, std::size_t capacity,
                                         std::uint32_t timeoutMs) {
  if (!reader_) {
    lastError_.emplace("ReadFile", ERROR_INVALID_FUNCTION);
    return HidReadResult{};
  }
  HidReadResult result = reader_->Read(buffer, capacity, timeoutMs);
  if (reader_->lastError()) lastError_ = reader_->lastError();
  return result;
}

void Win32HidDevice::CancelRead() {
  if (reader_) reader_->Cancel();
}

}  // namespace kt::win32
