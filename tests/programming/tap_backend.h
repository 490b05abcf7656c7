#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "hid/hid_backend.h"

namespace kt::test {

// Wraps a backend and lets a test step in just before an output report goes out: to press Exit at an
// exact request of a job, or to change the board between two requests. Requests are counted from 1
// since the last ResetCount().
class TapBackend final : public HidBackend {
 public:
  using Hook = std::function<void(std::uint32_t request)>;

  explicit TapBackend(HidBackend& inner) : inner_(inner) {}

  void ResetCount() { count_.store(0); }
  std::uint32_t count() const { return count_.load(); }
  // Runs `hook` on the writing thread before request `request` is passed on.
  void At(std::uint32_t request, std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hooks_.emplace_back(request, std::move(hook));
  }

  std::string Name() const override { return inner_.Name(); }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return inner_.ListInterfaces(); }
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override {
    std::unique_ptr<HidDeviceHandle> handle = inner_.Open(path, mode);
    if (!handle) return nullptr;
    return std::make_unique<Handle>(*this, std::move(handle));
  }
  void SetDeviceChangeListener(DeviceChangeListener listener) override {
    inner_.SetDeviceChangeListener(std::move(listener));
  }

 private:
  class Handle final : public HidDeviceHandle {
   public:
    Handle(TapBackend& tap, std::unique_ptr<HidDeviceHandle> inner) : tap_(tap), inner_(std::move(inner)) {}
    bool GetAttributes(HidAttributes& out) override { return inner_->GetAttributes(out); }
    bool GetCaps(HidCaps& out) override { return inner_->GetCaps(out); }
    bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
      tap_.BeforeWrite();
      return inner_->WriteReport(data, length, written);
    }
    HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) override {
      return inner_->ReadReport(buffer, capacity, timeoutMs);
    }
    void CancelRead() override { inner_->CancelRead(); }
    void CancelWrite() override { inner_->CancelWrite(); }

   private:
    TapBackend& tap_;
    std::unique_ptr<HidDeviceHandle> inner_;
  };

  void BeforeWrite() {
    const std::uint32_t request = ++count_;
    std::function<void()> due;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& [at, hook] : hooks_) {
        if (at == request && hook) due = std::exchange(hook, nullptr);
      }
    }
    if (due) due();
  }

  HidBackend& inner_;
  std::atomic<std::uint32_t> count_{0};
  std::mutex mutex_;
  std::vector<std::pair<std::uint32_t, std::function<void()>>> hooks_;
};

}  // namespace kt::test
