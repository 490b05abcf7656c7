#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "hid/hid_backend.h"
#include "hid/win32/win32_error.h"

namespace kt::win32 {

// Arrivals and removals of HID interfaces, as Windows tells them: to a window. A program without one
// (the command line) gets a message-only window on a thread of its own here, registered for the HID
// interface class. The listener runs on that thread. The destructor closes the window and joins the
// thread, so once it returns no call is under way and none will start; it must therefore not run inside
// the listener.
class DeviceNotifications {
 public:
  // The port of the interface at `path` (UTF-8), arriving or leaving; empty when it is not known.
  using PortResolver = std::function<std::string(const std::string& path, bool arrived)>;

  // Each change carries the port `portOf` gives for the interface the system names (none: no port).
  explicit DeviceNotifications(HidBackend::DeviceChangeListener listener, PortResolver portOf = {});
  ~DeviceNotifications();
  DeviceNotifications(const DeviceNotifications&) = delete;
  DeviceNotifications& operator=(const DeviceNotifications&) = delete;

  // True when the system took the registration: arrivals and removals will come.
  bool Registered() const { return registered_; }
  // The window, null when it could not be made. Tests send it WM_DEVICECHANGE as the system would.
  HWND Window() const { return window_; }
  // The step that failed (window, HID class driver, registration), if one did.
  const std::optional<Win32Error>& failure() const { return failure_; }

 private:
  void Run();
  void OnDeviceChange(WPARAM event, LPARAM data) const;
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HidBackend::DeviceChangeListener listener_;
  PortResolver portOf_;
  // Written by the thread before it sets `started_`, only read afterwards.
  HWND window_ = nullptr;
  bool registered_ = false;
  std::optional<Win32Error> failure_;
  std::mutex mutex_;
  std::condition_variable startedSignal_;
  bool started_ = false;
  std::thread thread_;
};

}  // namespace kt::win32
