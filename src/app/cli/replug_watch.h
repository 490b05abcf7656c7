#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "base/clock.h"
#include "hid/hid_backend.h"

namespace kt {

// A backend that watches the device notifications going by, so that the command line can wait for the
// board to leave and come back after the erase instead of going on the moment the re-plug box is shown.
// Everything else passes straight through to the backend it wraps.
class ReplugWatch final : public HidBackend {
 public:
  explicit ReplugWatch(std::unique_ptr<HidBackend> inner);
  ~ReplugWatch() override;

  // The notifications that count from now on.
  void Mark();
  // Waits until, since the mark, a removal came and after it an arrival at which `present()` holds (the
  // USB device's arrival comes before its HID node exists, so a later arrival may be the one). At most
  // `timeoutMs` on `clock`; false on time-out.
  bool WaitForReplug(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& present);
  // Waits until `present()` holds, now or after an arrival; at most `timeoutMs` on `clock`.
  bool WaitForArrival(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& present);
  // Ends a wait now and every later one at once, with false (any thread).
  void Cancel();

  std::string Name() const override { return inner_->Name(); }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return inner_->ListInterfaces(); }
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override {
    return inner_->Open(path, mode);
  }
  void SetDeviceChangeListener(DeviceChangeListener listener) override;
  bool ReportsDeviceChanges() const override { return inner_->ReportsDeviceChanges(); }
  std::string PortOf(const std::string& path) override { return inner_->PortOf(path); }

 private:
  void Record(bool arrived);
  bool Wait(Clock& clock, std::uint32_t timeoutMs, const std::function<bool()>& present, bool afterRemoval);

  std::unique_ptr<HidBackend> inner_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t events_ = 0;  // notifications seen, counting from 1
  std::uint64_t mark_ = 0;    // events_ at the mark
  // The first removal after the mark, 0 for none. Not the last one: in a station every port's changes
  // come here, and another board leaving after this one came back must not undo its return.
  std::uint64_t firstRemoval_ = 0;
  std::uint64_t lastArrival_ = 0;
  bool cancelled_ = false;
};

}  // namespace kt
