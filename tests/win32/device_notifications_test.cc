#include "hid/win32/device_notifications.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "hid/win32/win32_hid_backend.h"

namespace kt::win32 {
namespace {

// What the system sends the window: the event and, for the events that carry one, a broadcast whose
// header names the device type, and the interface's name after it.
LRESULT SendDeviceChange(HWND window, WPARAM event, std::optional<DWORD> deviceType,
                         const std::wstring& name = L"") {
  std::vector<unsigned char> buffer(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + name.size() * sizeof(wchar_t));
  auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.data());
  broadcast->dbcc_size = static_cast<DWORD>(buffer.size());
  broadcast->dbcc_devicetype = deviceType.value_or(0);
  std::copy(name.begin(), name.end(), broadcast->dbcc_name);
  const LPARAM data = deviceType ? reinterpret_cast<LPARAM>(broadcast) : 0;
  return SendMessageW(window, WM_DEVICECHANGE, event, data);
}

struct DeliveryCase {
  const char* name;
  WPARAM event;
  std::optional<DWORD> deviceType;  // none: the event carries no broadcast
  std::vector<bool> heard;
};

void PrintTo(const DeliveryCase& c, std::ostream* os) {
  *os << c.name;
}

const DeliveryCase kDeliveries[] = {
    {"interface arrival", DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, {true}},
    {"interface removal", DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, {false}},
    {"volume arrival", DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, {}},
    {"handle removal", DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_HANDLE, {}},
    {"query to remove an interface", DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_DEVICEINTERFACE, {}},
    {"interface removal pending", DBT_DEVICEREMOVEPENDING, DBT_DEVTYP_DEVICEINTERFACE, {}},
    {"device nodes changed, no broadcast", DBT_DEVNODES_CHANGED, std::nullopt, {}},
    {"arrival without a broadcast", DBT_DEVICEARRIVAL, std::nullopt, {}},
};

class DeviceNotificationsTest : public ::testing::TestWithParam<DeliveryCase> {};

TEST_P(DeviceNotificationsTest, HearsInterfaceArrivalsAndRemovalsOnly) {
  std::mutex mutex;
  std::vector<bool> heard;
  DeviceNotifications notifications([&](const DeviceChange& change) {
    std::lock_guard<std::mutex> lock(mutex);
    heard.push_back(change.arrived);
  });
  ASSERT_NE(notifications.Window(), nullptr) << notifications.failure()->what();
  // TRUE every time: a query to remove a device is never refused.
  EXPECT_EQ(SendDeviceChange(notifications.Window(), GetParam().event, GetParam().deviceType), TRUE);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(heard, GetParam().heard);
}

INSTANTIATE_TEST_SUITE_P(Events, DeviceNotificationsTest, ::testing::ValuesIn(kDeliveries));

// A notice carries the port of the interface it names: a present one's looked up, a removed one's as the
// backend saw it while it was there (the device node is gone by then), whatever case the name is in.
TEST(Win32HidBackendNotificationsTest, ANoticeNamesThePortOfItsInterface) {
  Win32HidBackend backend;
  std::mutex mutex;
  std::vector<DeviceChange> heard;
  backend.SetDeviceChangeListener([&](const DeviceChange& change) {
    std::lock_guard<std::mutex> lock(mutex);
    heard.push_back(change);
  });
  const HWND window = backend.DeviceNotificationWindow();
  ASSERT_NE(window, nullptr);
  // No such device: its port is its path, as for any interface without a location.
  const std::string seen = "\\\\?\\HID#VID_3B7D&PID_7310#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  ASSERT_EQ(backend.PortOf(seen), seen);
  SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE,
                   L"\\\\?\\hid#vid_3b7d&pid_7310#7&1&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
  SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, L"\\\\?\\hid#never#seen");
  SendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, L"\\\\?\\hid#just#arrived");
  SendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE);  // a broadcast without a name
  backend.SetDeviceChangeListener(nullptr);
  ASSERT_EQ(heard.size(), 4u);
  EXPECT_FALSE(heard[0].arrived);
  EXPECT_EQ(heard[0].port, seen);
  EXPECT_EQ(heard[1].port, "");  // removed before it was ever seen: no port to name
  EXPECT_TRUE(heard[2].arrived);
  EXPECT_EQ(heard[2].port, "\\\\?\\hid#just#arrived");
  EXPECT_EQ(heard[3].port, "");
}

// The backend reports changes exactly while a listener is set and the system took its registration.
TEST(Win32HidBackendNotificationsTest, ReportsChangesWhileAListenerIsSet) {
  Win32HidBackend backend;
  EXPECT_FALSE(backend.ReportsDeviceChanges());
  backend.SetDeviceChangeListener([](const DeviceChange&) {});
  EXPECT_TRUE(backend.ReportsDeviceChanges());
  backend.SetDeviceChangeListener([](const DeviceChange&) {});  // a second notifier, after the first has gone
  EXPECT_TRUE(backend.ReportsDeviceChanges());
  backend.SetDeviceChangeListener(nullptr);
  EXPECT_FALSE(backend.ReportsDeviceChanges());
  EXPECT_EQ(backend.DeviceNotificationWindow(), nullptr);
  backend.SetDeviceChangeListener([](const DeviceChange&) {});  // and the destructor stops this one
}

// A listener cleared while one of its calls is under way is not dropped until that call has ended, and
// is not called again: its owner may go as soon as the clearing returns.
TEST(Win32HidBackendNotificationsTest, ClearingTheListenerWaitsForItsCallUnderWay) {
  Win32HidBackend backend;
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  std::atomic<bool> callEnded{false};
  backend.SetDeviceChangeListener([&](const DeviceChange&) {
    if (++calls == 1) entered.set_value();
    released.wait();
    callEnded = true;
  });
  const HWND window = backend.DeviceNotificationWindow();
  ASSERT_NE(window, nullptr);
  std::thread system([window] { SendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE); });
  entered.get_future().wait();
  std::promise<void> clearing;
  std::future<bool> clearance = std::async(std::launch::async, [&] {
    clearing.set_value();
    backend.SetDeviceChangeListener(nullptr);
    return callEnded.load();
  });
  clearing.get_future().wait();
  release.set_value();
  EXPECT_TRUE(clearance.get());
  system.join();
  // The window went with the listener: what the system sends now reaches nobody.
  EXPECT_EQ(SendDeviceChange(window, DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE), 0);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace kt::win32
