#include "hid/null_backend.h"

namespace kt {

// Until the platform backend is in place, the tool sees no devices.
std::unique_ptr<HidBackend> CreatePlatformHidBackend() { return std::make_unique<NullHidBackend>(); }

}  // namespace kt
