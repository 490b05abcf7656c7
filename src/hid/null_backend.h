#pragma once

#include "hid/hid_backend.h"

namespace kt {

// A HID stack with no devices: what the tool sees on a machine without a usable HID backend.
class NullHidBackend final : public HidBackend {
 public:
  std::string Name() const override { return "none"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;
};

}  // namespace kt
