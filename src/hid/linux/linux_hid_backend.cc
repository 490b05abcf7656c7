#include "hid/linux/linux_hid_backend.h"

#include <fcntl.h>

#include <cerrno>
#include <filesystem>
#include <utility>
#include <vector>

#include "hid/linux/hidraw_device.h"
#include "hid/linux/hidraw_enumeration.h"
#include "hid/linux/hidraw_sysfs.h"
#include "hid/linux/system_error.h"
#include "hid/linux/unique_fd.h"

namespace kt {
namespace {

// The nodes as they were when the list was taken, like the system's list on Windows.
class HidrawNodeList final : public HidInterfaceList {
 public:
  explicit HidrawNodeList(std::vector<std::string> nodes) : nodes_(std::move(nodes)) {}

  HidEnumStep Next(std::uint32_t index, std::string& path) override {
    if (index >= nodes_.size()) return HidEnumStep::kEnd;
    path = nodes_[index];
    return HidEnumStep::kInterface;
  }

 private:
  std::vector<std::string> nodes_;
};

}  // namespace

std::string PermissionDeniedMessage(const std::string& path, const std::string& systemError) {
  return systemError + ". The KT7310 board at " + path + " cannot be opened by this user: the udev rule " +
         kUdevRuleName +
         " must be in effect (the Debian package installs it in /lib/udev/rules.d; from the sources copy "
         "packaging/linux/" +
         kUdevRuleName +
         " to /etc/udev/rules.d), then run 'udevadm control --reload-rules && udevadm trigger' and plug "
         "the board in again. A user without a seat at the station must be in the plugdev group.";
}

LinuxHidBackend::LinuxHidBackend(std::string sysfsRoot, std::string devRoot,
                                 LinuxHidDiagnostics::Hook diagnosticsHook)
    : sysfsRoot_(std::move(sysfsRoot)),
      devRoot_(std::move(devRoot)),
      diagnostics_(std::make_shared<LinuxHidDiagnostics>(std::move(diagnosticsHook))) {}

LinuxHidBackend::~LinuxHidBackend() = default;

bool LinuxHidBackend::RealSystem() const {
  return sysfsRoot_ == "/sys" && devRoot_ == "/dev";
}

std::unique_ptr<HidInterfaceList> LinuxHidBackend::ListInterfaces() {
  std::vector<std::string> nodes;
  std::string error;
  const bool listed = RealSystem() ? ListHidrawNodesWithUdev(nodes, error)
                                   : ListHidrawNodesInTree(sysfsRoot_, devRoot_, nodes, error);
  if (!listed) {
    diagnostics_->Record(error);
    return nullptr;
  }
  return std::make_unique<HidrawNodeList>(std::move(nodes));
}

std::unique_ptr<HidDeviceHandle> LinuxHidBackend::Open(const std::string& path, HidOpenMode mode) {
  // sysfs first: it names the device's IDs even when the node itself is closed to us.
  HidrawNodeInfo info;
  std::string error;
  if (!ReadHidrawNodeInfo(sysfsRoot_, std::filesystem::path(path).filename().string(), info, error)) {
    diagnostics_->Record(error);
  }

  // Both modes read and write, as on Windows. The reading handle is non-blocking so that a report that
  // another reader took between poll() and read() cannot leave us stuck in read().
  const int flags = O_RDWR | O_CLOEXEC | (mode == HidOpenMode::kOverlappedRead ? O_NONBLOCK : 0);
  UniqueFd fd(::open(path.c_str(), flags));
  if (!fd.Valid()) {
    const int err = errno;
    const std::string message = SystemErrorMessage("open", path, err);
    // Only a board of ours is worth an operator's attention: every other HID device on the machine is
    // closed to ordinary users too, and the search just passes over it.
    const bool ours = !info.hasIds || info.vendorId == kBoardVendorId;
    if ((err == EACCES || err == EPERM) && ours) {
      diagnostics_->ReportOnce(path, PermissionDeniedMessage(path, message));
    } else {
      diagnostics_->Record(message);
    }
    return nullptr;
  }
  return std::make_unique<HidrawDevice>(std::move(fd), path, std::move(info), diagnostics_);
}

bool LinuxHidBackend::ReportsDeviceChanges() const {
  std::lock_guard<std::mutex> lock(monitorMutex_);
  return monitor_ != nullptr && monitor_->Running();
}

void LinuxHidBackend::SetDeviceChangeListener(DeviceChangeListener listener) {
  std::lock_guard<std::mutex> lock(monitorMutex_);
  monitor_.reset();  // joins the old thread before a new one starts
  if (!listener) return;
  std::string error;
  std::unique_ptr<DeviceEventSource> source = CreateUdevEventSource(error);
  if (!source) {
    diagnostics_->ReportOnce("device monitor", "hot-plug detection is off: " + error);
    return;
  }
  monitor_ = std::make_unique<DeviceMonitor>(std::move(source), std::move(listener));
}

std::string LinuxHidBackend::PortOf(const std::string& path) {
  const std::string node = path.substr(path.find_last_of('/') + 1);
  const std::string port = UsbPortOfHidrawNode(sysfsRoot_, node);
  return port.empty() ? path : port;
}

}  // namespace kt
