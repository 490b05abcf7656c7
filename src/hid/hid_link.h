#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/clock.h"
#include "hid/hid_backend.h"

namespace kt {

// Reports longer than this are refused when the device is opened: every report buffer is this size.
inline constexpr std::size_t kMaxReportLength = 64;
// Only the first this many HID interfaces of the system are looked at.
inline constexpr std::uint32_t kMaxHidInterfaces = 256;

// The one target device. A handle field that is null is closed. The read event and its overlapped
// record of the Windows tool belong to the backend's read handle here; `readEventOpen` keeps their
// lifetime visible (created with the link, closed only when it is destroyed).
struct HidLink {
  HidBackend* backend = nullptr;
  Clock* clock = nullptr;  // pauses of the report protocol
  std::unique_ptr<HidDeviceHandle> writeHandle;
  std::unique_ptr<HidDeviceHandle> readHandle;
  std::uint16_t inputReportLength = 0;
  std::uint16_t outputReportLength = 0;
  std::uint8_t reportId = 0;
  bool readEventOpen = false;
  bool deviceOpen = false;  // the last OpenHidLink's result, stored by its caller
  std::string openedPath;   // the interface the last successful open took; kept after the close
};

void CreateHidLink(HidLink& link, HidBackend& backend, Clock& clock);
bool OpenHidLink(HidLink& link, std::uint16_t vendorId, std::uint16_t productId);
void CloseHidLink(HidLink& link);
void DestroyHidLink(HidLink& link);

}  // namespace kt
