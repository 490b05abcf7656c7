#include "support/scripted_backend.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kt::test {

ScriptedRead ScriptedRead::Report(std::vector<std::uint8_t> bytes) {
  ScriptedRead read;
  read.status = HidReadResult::Status::kCompleted;
  read.bytes = std::move(bytes);
  return read;
}

ScriptedRead ScriptedRead::TimeOut() {
  return ScriptedRead{};
}

ScriptedRead ScriptedRead::Failure() {
  ScriptedRead read;
  read.status = HidReadResult::Status::kFailed;
  return read;
}

ScriptedRead ScriptedRead::ReportedAs(std::size_t count) && {
  reportedCount = count;
  return std::move(*this);
}

class ScriptedBackend::List final : public HidInterfaceList {
 public:
  explicit List(ScriptedBackend& backend) : backend_(backend) {}
  ~List() override { backend_.ListReleased(); }
  HidEnumStep Next(std::uint32_t index, std::string& path) override { return backend_.Next(index, path); }

 private:
  ScriptedBackend& backend_;
};

class ScriptedBackend::Handle final : public HidDeviceHandle {
 public:
  Handle(ScriptedBackend& backend, std::string path, HidOpenMode mode)
      : backend_(backend), path_(std::move(path)), mode_(mode) {}
  ~Handle() override { backend_.HandleClosed(mode_); }

  bool GetAttributes(HidAttributes& out) override { return backend_.Attributes(path_, out); }
  bool GetCaps(HidCaps& out) override { return backend_.Caps(path_, out); }
  bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
    return backend_.Write(path_, data, length, written);
  }
  HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) override {
    return backend_.Read(path_, buffer, capacity, timeoutMs);
  }
  void CancelRead() override { backend_.Cancel(); }
  void CancelWrite() override {}

 private:
  ScriptedBackend& backend_;
  std::string path_;
  HidOpenMode mode_;
};

ScriptedInterface ScriptedBackend::Device(std::string path, std::uint16_t vendorId, std::uint16_t productId) {
  ScriptedInterface interface;
  interface.path = std::move(path);
  interface.attributes = {vendorId, productId};
  interface.caps.inputReportByteLength = 64;
  interface.caps.outputReportByteLength = 64;
  return interface;
}

std::vector<std::uint8_t> ScriptedBackend::Answer(std::uint8_t tag, std::size_t length,
                                                  std::vector<std::uint8_t> from8) {
  std::vector<std::uint8_t> report(length, 0);
  if (length > 7) report[7] = tag;
  for (std::size_t i = 0; i < from8.size() && 8 + i < length; ++i) report[8 + i] = from8[i];
  return report;
}

void ScriptedBackend::AddInterface(ScriptedInterface interface) {
  std::lock_guard<std::mutex> lock(mutex_);
  interfaces_.push_back(std::move(interface));
}

void ScriptedBackend::EditInterface(std::size_t index, const std::function<void(ScriptedInterface&)>& edit) {
  std::lock_guard<std::mutex> lock(mutex_);
  edit(interfaces_.at(index));
}

void ScriptedBackend::OverrideStep(std::uint32_t index, HidEnumStep step) {
  std::lock_guard<std::mutex> lock(mutex_);
  stepOverrides_[index] = step;
}

void ScriptedBackend::SetListUnavailable(bool unavailable) {
  std::lock_guard<std::mutex> lock(mutex_);
  listUnavailable_ = unavailable;
}

void ScriptedBackend::QueueRead(ScriptedRead read) {
  std::lock_guard<std::mutex> lock(mutex_);
  reads_.push_back(std::move(read));
}

void ScriptedBackend::SetReadWhenEmpty(ScriptedRead read) {
  std::lock_guard<std::mutex> lock(mutex_);
  readWhenEmpty_ = std::move(read);
}

void ScriptedBackend::OnWrite(std::function<void(const WrittenReport&, ScriptedBackend&)> callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  onWrite_ = std::move(callback);
}

void ScriptedBackend::SetWritesFail(bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  writesFail_ = fail;
}

ScriptedBackend::Counters ScriptedBackend::counters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_;
}

int ScriptedBackend::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_.plainOpens + counters_.overlappedOpens - counters_.plainCloses -
         counters_.overlappedCloses;
}

std::vector<std::uint32_t> ScriptedBackend::EnumeratedIndices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return enumerated_;
}

std::vector<WrittenReport> ScriptedBackend::Writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

std::vector<ScriptedBackend::ReadCall> ScriptedBackend::ReadCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return readCalls_;
}

std::size_t ScriptedBackend::PendingReads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reads_.size();
}

std::unique_ptr<HidInterfaceList> ScriptedBackend::ListInterfaces() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (listUnavailable_) return nullptr;
  ++counters_.listsTaken;
  return std::make_unique<List>(*this);
}

std::unique_ptr<HidDeviceHandle> ScriptedBackend::Open(const std::string& path, HidOpenMode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ScriptedInterface* interface = FindLocked(path);
  if (interface == nullptr) return nullptr;
  if (mode == HidOpenMode::kPlain) {
    if (interface->plainOpenFails) return nullptr;
    ++counters_.plainOpens;
  } else {
    if (interface->overlappedOpenFails) return nullptr;
    ++counters_.overlappedOpens;
  }
  return std::make_unique<Handle>(*this, path, mode);
}

HidEnumStep ScriptedBackend::Next(std::uint32_t index, std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  enumerated_.push_back(index);
  // The path is filled even where an override says kSkip or kEnd, as a careless system call might
  // leave it: only the step may decide whether the index is used.
  path = index < interfaces_.size() ? interfaces_[index].path : std::string();
  if (auto it = stepOverrides_.find(index); it != stepOverrides_.end()) return it->second;
  return index < interfaces_.size() ? HidEnumStep::kInterface : HidEnumStep::kEnd;
}

const ScriptedInterface* ScriptedBackend::FindLocked(const std::string& path) const {
  auto it = std::find_if(interfaces_.begin(), interfaces_.end(),
                         [&](const ScriptedInterface& interface) { return interface.path == path; });
  return it == interfaces_.end() ? nullptr : &*it;
}

void ScriptedBackend::HandleClosed(HidOpenMode mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++(mode == HidOpenMode::kPlain ? counters_.plainCloses : counters_.overlappedCloses);
}

void ScriptedBackend::ListReleased() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counters_.listsReleased;
}

bool ScriptedBackend::Attributes(const std::string& path, HidAttributes& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ScriptedInterface* interface = FindLocked(path);
  if (interface == nullptr || interface->attributesFail) return false;
  out = interface->attributes;
  return true;
}

bool ScriptedBackend::Caps(const std::string& path, HidCaps& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  const ScriptedInterface* interface = FindLocked(path);
  if (interface == nullptr || interface->capsFail) return false;
  out = interface->caps;
  return true;
}

bool ScriptedBackend::Write(const std::string& path, const std::uint8_t* data, std::size_t length,
                            std::size_t& written) {
  WrittenReport report{path, std::vector<std::uint8_t>(data, data + length)};
  std::function<void(const WrittenReport&, ScriptedBackend&)> callback;
  bool ok = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_.push_back(report);
    callback = onWrite_;
    ok = !writesFail_;
  }
  written = ok ? length : 0;
  if (callback) callback(report, *this);
  return ok;
}

HidReadResult ScriptedBackend::Read(const std::string& path, std::uint8_t* buffer, std::size_t capacity,
                                    std::uint32_t timeoutMs) {
  ScriptedRead read;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.reads;
    readCalls_.push_back({path, capacity, timeoutMs});
    if (reads_.empty()) {
      read = readWhenEmpty_;
    } else {
      read = std::move(reads_.front());
      reads_.pop_front();
    }
  }
  HidReadResult result;
  result.status = read.status;
  if (read.status == HidReadResult::Status::kCompleted) {
    const std::size_t copied = std::min(read.bytes.size(), capacity);
    if (copied != 0) std::memcpy(buffer, read.bytes.data(), copied);
    result.byteCount = read.reportedCount.value_or(copied);
  } else if (read.status == HidReadResult::Status::kTimedOut && clock_ != nullptr) {
    clock_->Sleep(timeoutMs);
  }
  return result;
}

void ScriptedBackend::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++counters_.cancels;
}

}  // namespace kt::test
