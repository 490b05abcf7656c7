#include "hid/win32/win32_hid_backend.h"

#include <utility>

#include "hid/win32/device_handle.h"
#include "hid/win32/device_location.h"
#include "hid/win32/interface_walk.h"

namespace kt {
namespace win32 {

Win32HidBackend::~Win32HidBackend() = default;

std::unique_ptr<HidInterfaceList> Win32HidBackend::ListInterfaces() {
  lastError_.reset();
  auto source = OpenHidInterfaceSource(lastError_);
  if (!source) return nullptr;
  return std::make_unique<InterfaceWalk>(std::move(source));
}

std::unique_ptr<HidDeviceHandle> Win32HidBackend::Open(const std::string& path, HidOpenMode mode) {
  lastError_.reset();
  return Win32HidDevice::Open(path, mode, lastError_);
}

std::string Win32HidBackend::PortOf(const std::string& path) {
  const std::string location = DeviceLocationOf(path);
  return location.empty() ? path : location;
}

void Win32HidBackend::SetDeviceChangeListener(DeviceChangeListener listener) {
  std::lock_guard<std::mutex> lock(notificationsMutex_);
  notifications_.reset();  // joins the old thread before a new one starts
  if (listener) notifications_ = std::make_unique<DeviceNotifications>(std::move(listener));
}

bool Win32HidBackend::ReportsDeviceChanges() const {
  std::lock_guard<std::mutex> lock(notificationsMutex_);
  return notifications_ != nullptr && notifications_->Registered();
}

HWND Win32HidBackend::DeviceNotificationWindow() const {
  std::lock_guard<std::mutex> lock(notificationsMutex_);
  return notifications_ != nullptr ? notifications_->Window() : nullptr;
}

}  // namespace win32

std::unique_ptr<HidBackend> CreatePlatformHidBackend() {
  return std::make_unique<win32::Win32HidBackend>();
}

}  // namespace kt
