#include "hid/linux/linux_hid_backend.h"

namespace kt {

std::unique_ptr<HidBackend> CreatePlatformHidBackend() {
  return std::make_unique<LinuxHidBackend>();
}

}  // namespace kt
