#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/sim/sim_board.h"

namespace kt::test {

// The simulated board behind a device that misbehaves: it declares other report lengths, lies about
// how much it read, forges answers, floods the host with reports, or disappears at a chosen moment.
// The board still answers every request it gets as the chip does, so a job gets as far as the device
// lets it.
//
// Settings are made before the dialog opens the device; the counters may be read once the job is over.
class HostileBackend final : public HidBackend {
 public:
  static constexpr std::size_t kLargestReport = 4096;

  explicit HostileBackend(SimBackend& sim) : sim_(sim) {}

  // --- what the device does ---------------------------------------------------------------------
  // Report lengths the capabilities declare instead of the board's.
  std::optional<std::uint16_t> inputLength;
  std::optional<std::uint16_t> outputLength;
  // Changes every report the board answers with, and the byte count the read then reports. The report
  // may grow to kLargestReport bytes; the read still never writes past the caller's buffer.
  std::function<void(std::vector<std::uint8_t>& report, std::size_t& count)> rewrite;
  // Called with the request count (from 1) and the report before it goes out, and with the read count
  // (from 1) before a read starts; the place to unplug the board or queue a flood.
  std::function<void(std::uint32_t request, const std::vector<std::uint8_t>& report)> beforeWrite;
  std::function<void(std::uint32_t read)> beforeRead;
  // Once the board is gone, reads fail at once (as a hang-up does on Linux) instead of timing out.
  bool failReadsWhenGone = false;

  // Queues `count` reports of the board's input length carrying `tag` at the answer's tag byte; they
  // come before anything the board answers.
  void Flood(std::uint8_t tag, std::uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    floodTag_ = tag;
    flood_ += count;
  }
  SimBoard& board() { return sim_.board(); }

  // --- what was seen ------------------------------------------------------------------------------
  std::uint32_t writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
  }
  std::uint32_t reads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reads_;
  }
  // The longest output report the tool handed over, and the largest read buffer it offered.
  std::size_t longestWrite() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return longestWrite_;
  }
  std::size_t largestCapacity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return largestCapacity_;
  }

  // --- HidBackend ---------------------------------------------------------------------------------
  std::string Name() const override { return "hostile " + sim_.Name(); }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return sim_.ListInterfaces(); }
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override {
    std::unique_ptr<HidDeviceHandle> inner = sim_.Open(path, mode);
    if (!inner) return nullptr;
    return std::make_unique<Handle>(*this, std::move(inner));
  }
  void SetDeviceChangeListener(DeviceChangeListener listener) override {
    sim_.SetDeviceChangeListener(std::move(listener));
  }

 private:
  class Handle final : public HidDeviceHandle {
   public:
    Handle(HostileBackend& owner, std::unique_ptr<HidDeviceHandle> inner)
        : owner_(owner), inner_(std::move(inner)) {}

    bool GetAttributes(HidAttributes& out) override { return inner_->GetAttributes(out); }
    bool GetCaps(HidCaps& out) override {
      if (!inner_->GetCaps(out)) return false;
      if (owner_.inputLength) out.inputReportByteLength = *owner_.inputLength;
      if (owner_.outputLength) out.outputReportByteLength = *owner_.outputLength;
      return true;
    }
    bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
      std::uint32_t request = 0;
      {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        request = ++owner_.writes_;
        owner_.longestWrite_ = std::max(owner_.longestWrite_, length);
      }
      // Every byte the tool claims to hand over is looked at, so a short buffer shows up under ASan.
      const std::vector<std::uint8_t> copy(data, data + length);
      if (owner_.beforeWrite) owner_.beforeWrite(request, copy);
      return inner_->WriteReport(copy.data(), copy.size(), written);
    }
    HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) override {
      std::uint32_t read = 0;
      {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        read = ++owner_.reads_;
        owner_.largestCapacity_ = std::max(owner_.largestCapacity_, capacity);
      }
      if (owner_.beforeRead) owner_.beforeRead(read);
      if (owner_.failReadsWhenGone && !owner_.board().plugged()) return {HidReadResult::Status::kFailed, 0};
      std::vector<std::uint8_t> report;
      if (owner_.TakeFlood(report)) return Deliver(report, report.size(), buffer, capacity);

      report.assign(kLargestReport, 0);
      const HidReadResult result = inner_->ReadReport(report.data(), report.size(), timeoutMs);
      if (result.status != HidReadResult::Status::kCompleted) return result;
      report.resize(result.byteCount);
      std::size_t count = result.byteCount;
      if (owner_.rewrite) owner_.rewrite(report, count);
      report.resize(std::min(report.size(), kLargestReport));
      return Deliver(report, count, buffer, capacity);
    }
    void CancelRead() override { inner_->CancelRead(); }
    void CancelWrite() override { inner_->CancelWrite(); }

   private:
    // As a backend must: never more than the caller's buffer, whatever the count says.
    static HidReadResult Deliver(const std::vector<std::uint8_t>& report, std::size_t count,
                                 std::uint8_t* buffer, std::size_t capacity) {
      const std::size_t copied = std::min(report.size(), capacity);
      if (copied != 0) std::memcpy(buffer, report.data(), copied);
      return {HidReadResult::Status::kCompleted, count};
    }

    HostileBackend& owner_;
    std::unique_ptr<HidDeviceHandle> inner_;
  };

  bool TakeFlood(std::vector<std::uint8_t>& report) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (flood_ == 0) return false;
    --flood_;
    report.assign(SimBoard::kInputReportLength, 0);
    report[7] = floodTag_;
    return true;
  }

  SimBackend& sim_;
  mutable std::mutex mutex_;
  std::uint32_t writes_ = 0;
  std::uint32_t reads_ = 0;
  std::size_t longestWrite_ = 0;
  std::size_t largestCapacity_ = 0;
  std::uint8_t floodTag_ = 0;
  std::uint64_t flood_ = 0;
};

}  // namespace kt::test
