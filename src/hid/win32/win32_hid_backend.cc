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

namespace {

// Interface paths are compared without case: SetupAPI and the notices spell the same one differently.
std::string PathKey(std::string path) {
  for (char& c : path) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return path;
}

}  // namespace

std::string Win32HidBackend::PortOf(const std::string& path) {
  const std::string location = DeviceLocationOf(path);
  const std::string& port = location.empty() ? path : location;
  std::lock_guard<std::mutex> lock(portsMutex_);
  ports_[PathKey(path)] = port;
  return port;
}

std::string Win32HidBackend::PortOfChange(const std::string& path, bool arrived) {
  if (arrived) return PortOf(path);
  std::lock_guard<std::mutex> lock(portsMutex_);
  const auto known = ports_.find(PathKey(path));
  return known != ports_.end() ? known->second : std::string();
}

void Win32HidBackend::SetDeviceChangeListener(DeviceChangeListener listener) {
  std::lock_guard<std::mutex> lock(notificationsMutex_);
  notifications_.reset();  // joins the old thread before a new one starts
  if (listener) {
    notifications_ = std::make_unique<DeviceNotifications>(
        std::move(listener), [this](const std::string& path, bool arrived) { return PortOfChange(path, arrived); });
  }
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
