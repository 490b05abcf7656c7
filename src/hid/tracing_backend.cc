#include "hid/tracing_backend.h"

namespace kt {

class TracingBackend::Handle final : public HidDeviceHandle {
 public:
  Handle(TracingBackend& owner, std::string path, std::unique_ptr<HidDeviceHandle> inner)
      : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}

  bool GetAttributes(HidAttributes& out) override { return inner_->GetAttributes(out); }

  bool GetCaps(HidCaps& out) override {
    if (!inner_->GetCaps(out)) return false;
    owner_.RememberInputLength(path_, out.inputReportByteLength);
    return true;
  }

  bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
    owner_.trace_.Report(TraceDirection::kOut, data, length);
    const bool ok = inner_->WriteReport(data, length, written);
    if (!ok || written == 0) owner_.trace_.Event("write failed");
    return ok;
  }

  HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) override {
    const HidReadResult result = inner_->ReadReport(buffer, capacity, timeoutMs);
    switch (result.status) {
      case HidReadResult::Status::kCompleted: {
        std::size_t length = result.byteCount;
        if (length == 0) length = owner_.InputLength(path_);
        if (length == 0 || length > capacity) length = capacity;
        owner_.trace_.Report(TraceDirection::kIn, buffer, length);
        break;
      }
      case HidReadResult::Status::kTimedOut:
        owner_.trace_.Event("read timed out after " + std::to_string(timeoutMs) + " ms");
        break;
      case HidReadResult::Status::kFailed:
        owner_.trace_.Event("read failed");
        break;
    }
    return result;
  }

  void CancelRead() override { inner_->CancelRead(); }
  void CancelWrite() override { inner_->CancelWrite(); }

 private:
  TracingBackend& owner_;
  std::string path_;
  std::unique_ptr<HidDeviceHandle> inner_;
};

TracingBackend::TracingBackend(std::unique_ptr<HidBackend> inner, ReportTrace& trace)
    : inner_(std::move(inner)), trace_(trace) {}

std::unique_ptr<HidDeviceHandle> TracingBackend::Open(const std::string& path, HidOpenMode mode) {
  std::unique_ptr<HidDeviceHandle> handle = inner_->Open(path, mode);
  if (!handle) return nullptr;
  return std::make_unique<Handle>(*this, path, std::move(handle));
}

void TracingBackend::SetDeviceChangeListener(DeviceChangeListener listener) {
  inner_->SetDeviceChangeListener(std::move(listener));
}

void TracingBackend::RememberInputLength(const std::string& path, std::uint16_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  inputLengths_[path] = length;
}

std::uint16_t TracingBackend::InputLength(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = inputLengths_.find(path);
  return it == inputLengths_.end() ? 0 : it->second;
}

}  // namespace kt
