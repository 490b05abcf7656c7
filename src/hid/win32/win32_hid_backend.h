#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "hid/hid_backend.h"
#include "hid/win32/device_notifications.h"
#include "hid/win32/win32_error.h"

namespace kt::win32 {

// The Windows HID stack: SetupAPI for the present interfaces, CreateFileA handles for the rest. HID
// interfaces' arrivals and removals come from a window of the backend's own (DeviceNotifications) while a
// listener is set; the dialog program has its own window for them and sets none here.
class Win32HidBackend final : public HidBackend {
 public:
  ~Win32HidBackend() override;

  std::string Name() const override { return "win32"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;
  // The device's location (DeviceLocationOf); the path itself where the system knows none. The port is
  // kept for the path, so that the removal of that interface can name it: by then the device node is
  // gone and the system has no location to give.
  std::string PortOf(const std::string& path) override;
  // Starts (or, with an empty listener, stops) the notification thread. Replacing a listener joins the
  // old thread first, so it must not be called from inside the listener.
  void SetDeviceChangeListener(DeviceChangeListener listener) override;
  bool ReportsDeviceChanges() const override;
  // The notification window, null without a listener; for tests, which send it WM_DEVICECHANGE.
  HWND DeviceNotificationWindow() const;

  // Why the last ListInterfaces or Open returned null.
  const std::optional<Win32Error>& lastError() const { return lastError_; }

 private:
  // The port a notice names: a present interface's is looked up, a removed one's is the one kept.
  std::string PortOfChange(const std::string& path, bool arrived);

  std::optional<Win32Error> lastError_;
  std::mutex portsMutex_;
  std::map<std::string, std::string> ports_;  // by the path in lower case
  mutable std::mutex notificationsMutex_;
  std::unique_ptr<DeviceNotifications> notifications_;
};

}  // namespace kt::win32
