#include "hid/win32/device_notifications.h"

#include <dbt.h>

#include <cstddef>
#include <cwchar>
#include <string_view>
#include <utility>

#include "base/utf8_path_win32.h"

#include "hid/win32/hid_system.h"
#include "hid/win32/scoped_handle.h"

namespace kt::win32 {
namespace {

constexpr const wchar_t* kWindowClass = L"kt7310.DeviceNotifications";

// Destroyed on the thread that made it, as a window must be.
struct WindowTraits {
  using Type = HWND;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type w) { return w != nullptr; }
  static void Release(Type w) { DestroyWindow(w); }
};
using ScopedWindow = Scoped<WindowTraits>;

struct DeviceNotificationTraits {
  using Type = HDEVNOTIFY;
  static inline const Type kNone = nullptr;
  static bool IsValid(Type h) { return h != nullptr; }
  static void Release(Type h) { UnregisterDeviceNotification(h); }
};
using ScopedDeviceNotification = Scoped<DeviceNotificationTraits>;

// One class for every notifier of the process, registered on first use and gone with the process.
class WindowClass {
 public:
  explicit WindowClass(WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    atom_ = RegisterClassExW(&windowClass);
    if (atom_ == 0) error_ = GetLastError();
  }
  ~WindowClass() {
    if (atom_ != 0) UnregisterClassW(kWindowClass, GetModuleHandleW(nullptr));
  }
  WindowClass(const WindowClass&) = delete;
  WindowClass& operator=(const WindowClass&) = delete;

  bool Registered() const { return atom_ != 0; }
  DWORD Error() const { return error_; }

 private:
  ATOM atom_ = 0;
  DWORD error_ = 0;
};

}  // namespace

DeviceNotifications::DeviceNotifications(HidBackend::DeviceChangeListener listener, PortResolver portOf)
    : listener_(std::move(listener)), portOf_(std::move(portOf)) {
  thread_ = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> lock(mutex_);
  startedSignal_.wait(lock, [this] { return started_; });
}

DeviceNotifications::~DeviceNotifications() {
  // The thread has already ended when it had no window; with one, WM_CLOSE ends its loop.
  if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
  thread_.join();
}

void DeviceNotifications::Run() {
  static const WindowClass windowClass(WindowProc);
  ScopedWindow window;
  ScopedDeviceNotification registration;
  std::optional<Win32Error> failure;
  if (!windowClass.Registered()) {
    failure.emplace("RegisterClassExW", windowClass.Error());
  } else {
    window.reset(CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), this));
    if (!window) failure = LastWin32Error("CreateWindowExW");
  }
  const HidFunctions* hid = window ? Hid(failure) : nullptr;
  if (hid != nullptr) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    hid->GetHidGuid(&filter.dbcc_classguid);
    registration.reset(RegisterDeviceNotificationW(window.get(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
    if (!registration) failure = LastWin32Error("RegisterDeviceNotificationW");
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = window.get();
    registered_ = registration.valid();
    failure_ = std::move(failure);
    started_ = true;
  }
  startedSignal_.notify_all();
  if (!window) return;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  // Leaving: the registration goes first, then the window, both on the thread that made them.
}

void DeviceNotifications::OnDeviceChange(WPARAM event, LPARAM data) const {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
  // Only these two events carry a header, and only an interface's is ours (a volume's arrival is not).
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
  DeviceChange change;
  change.arrived = event == DBT_DEVICEARRIVAL;
  // The interface's name runs to its terminating zero, but never past the size the header gives.
  const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (portOf_ && header->dbch_size > nameOffset) {
    const std::size_t room = (header->dbch_size - nameOffset) / sizeof(wchar_t);
    const std::wstring_view name(broadcast->dbcc_name, wcsnlen(broadcast->dbcc_name, room));
    if (!name.empty()) change.port = portOf_(Utf8FromWide(name), change.arrived);
  }
  listener_(change);
}

LRESULT CALLBACK DeviceNotifications::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  const auto* self = reinterpret_cast<const DeviceNotifications*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_DEVICECHANGE:
      if (self != nullptr) self->OnDeviceChange(wParam, lParam);
      // TRUE: a query to remove a device is never refused here.
      return TRUE;
    case WM_CLOSE:
      // The window itself is destroyed when Run's loop has ended, after its registration.
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace kt::win32
