#pragma once

#include <memory>
#include <string>
#include <utility>

#include "hid/hid_backend.h"

namespace kt {

// The dialog program hears of devices through its own window's WM_DEVICECHANGE (Win32DialogHost), as it
// always did. The dialog also sets a listener on its backend, for the backends that tell no window; on
// the real backend that listener would start a second notifier and every re-plug would be heard twice,
// so here it is kept from the backend.
class WindowNotifiedBackend final : public HidBackend {
 public:
  explicit WindowNotifiedBackend(std::unique_ptr<HidBackend> inner) : inner_(std::move(inner)) {}

  std::string Name() const override { return inner_->Name(); }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return inner_->ListInterfaces(); }
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override {
    return inner_->Open(path, mode);
  }
  void SetDeviceChangeListener(DeviceChangeListener) override {}
  bool ReportsDeviceChanges() const override { return false; }
  std::string PortOf(const std::string& path) override { return inner_->PortOf(path); }

 private:
  std::unique_ptr<HidBackend> inner_;
};

}  // namespace kt
