#include "hid/linux/device_monitor.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "hid/linux/hidraw_sysfs.h"
#include "hid/linux/system_error.h"
#include "hid/linux/udev_ptr.h"

namespace kt {

DeviceMonitor::DeviceMonitor(std::unique_ptr<DeviceEventSource> source,
                             HidBackend::DeviceChangeListener listener)
    : source_(std::move(source)), listener_(std::move(listener)), stop_(::eventfd(0, EFD_CLOEXEC)) {
  if (source_ && listener_ && stop_.Valid()) thread_ = std::thread([this] { Run(); });
}

DeviceMonitor::~DeviceMonitor() {
  if (!thread_.joinable()) return;
  const std::uint64_t one = 1;
  // An eventfd write of 1 cannot fail short of a full counter, which nothing else writes to.
  [[maybe_unused]] const ssize_t n = ::write(stop_.Get(), &one, sizeof one);
  thread_.join();
}

void DeviceMonitor::Run() {
  for (;;) {
    pollfd fds[2] = {{stop_.Get(), POLLIN, 0}, {source_->Fd(), POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[0].revents != 0) return;
    // A source that failed stays readable for ever; stop rather than spin on it.
    if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return;
    if ((fds[1].revents & POLLIN) != 0) {
      if (const std::optional<DeviceChange> change = source_->Receive()) listener_(*change);
    }
  }
}

namespace {

class UdevEventSource final : public DeviceEventSource {
 public:
  UdevEventSource(UdevPtr udev, UdevMonitorPtr monitor)
      : udev_(std::move(udev)), monitor_(std::move(monitor)) {}

  int Fd() const override { return udev_monitor_get_fd(monitor_.get()); }

  std::optional<DeviceChange> Receive() override {
    UdevDevicePtr device(udev_monitor_receive_device(monitor_.get()));
    if (!device) return {};
    const char* action = udev_device_get_action(device.get());
    if (action == nullptr) return {};
    DeviceChange change;
    if (std::strcmp(action, "add") == 0) {
      change.arrived = true;
    } else if (std::strcmp(action, "remove") != 0) {
      return {};  // change, bind, unbind, ...: the device set is the same
    }
    // The path is the event's own: a removed device's directories are gone from sysfs already.
    const char* devicePath = udev_device_get_devpath(device.get());
    change.port = UsbPortInDevicePath(devicePath != nullptr ? devicePath : "");
    if (change.port.empty()) {
      const char* node = udev_device_get_devnode(device.get());
      const char* subsystem = udev_device_get_subsystem(device.get());
      if (node != nullptr && subsystem != nullptr && std::strcmp(subsystem, "hidraw") == 0) change.port = node;
    }
    return change;
  }

 private:
  UdevPtr udev_;
  UdevMonitorPtr monitor_;
};

}  // namespace

std::unique_ptr<DeviceEventSource> CreateUdevEventSource(std::string& error) {
  UdevPtr udev(udev_new());
  if (!udev) {
    error = SystemErrorMessage("udev_new", "", errno);
    return nullptr;
  }
  // "udev", not "kernel": events after udev's rules have run, so nodes exist and have their permissions.
  UdevMonitorPtr monitor(udev_monitor_new_from_netlink(udev.get(), "udev"));
  if (!monitor) {
    error = SystemErrorMessage("udev_monitor_new_from_netlink", "udev", errno);
    return nullptr;
  }
  int rc = udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", "usb_device");
  if (rc >= 0) rc = udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "hidraw", nullptr);
  if (rc >= 0) rc = udev_monitor_enable_receiving(monitor.get());
  if (rc < 0) {
    error = SystemErrorMessage("udev_monitor_enable_receiving", "usb, hidraw", -rc);
    return nullptr;
  }
  return std::make_unique<UdevEventSource>(std::move(udev), std::move(monitor));
}

}  // namespace kt
