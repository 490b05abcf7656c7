#pragma once

#include <memory>
#include <string>

#include "hid/hid_backend.h"

namespace kt {

// A backend that shows exactly one HID interface of the backend it wraps: its list holds only `path`,
// and nothing else can be opened. A job run over it can meet no other board, whatever IDs it searches.
class SingleDeviceBackend final : public HidBackend {
 public:
  SingleDeviceBackend(HidBackend& inner, std::string path) : inner_(inner), path_(std::move(path)) {}

  std::string Name() const override { return inner_.Name() + " (" + path_ + " only)"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override {
    return path == path_ ? inner_.Open(path, mode) : nullptr;
  }
  void SetDeviceChangeListener(DeviceChangeListener listener) override {
    inner_.SetDeviceChangeListener(std::move(listener));
  }
  bool ReportsDeviceChanges() const override { return inner_.ReportsDeviceChanges(); }
  std::string PortOf(const std::string& path) override { return inner_.PortOf(path); }

 private:
  HidBackend& inner_;
  std::string path_;
};

}  // namespace kt
