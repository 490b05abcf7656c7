#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "hid/hid_backend.h"
#include "hid/linux/device_monitor.h"
#include "hid/linux/diagnostics.h"

namespace kt {

// The udev rule that gives operators access to the boards' hidraw nodes, as shipped and installed.
inline constexpr const char* kUdevRuleName = "70-kt7310.rules";
inline constexpr std::uint16_t kBoardVendorId = 0x3B7D;

// hidraw + libudev. Paths are device nodes, "/dev/hidraw3".
//
// The sysfs and /dev roots are the real ones by default. Given any other root (a fixture tree in tests),
// the nodes are found by walking <sysfsRoot>/class/hidraw instead of asking libudev, which only knows the
// real system; everything after that (IDs, report descriptor, open, read, write) is the same code.
class LinuxHidBackend final : public HidBackend {
 public:
  explicit LinuxHidBackend(std::string sysfsRoot = "/sys", std::string devRoot = "/dev",
                           LinuxHidDiagnostics::Hook diagnosticsHook = {});
  ~LinuxHidBackend() override;

  std::string Name() const override { return "hidraw"; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;
  // Starts (or, with an empty listener, stops) the udev monitor. Replacing a listener joins the old
  // monitor thread first, so it must not be called from inside the listener.
  void SetDeviceChangeListener(DeviceChangeListener listener) override;
  bool ReportsDeviceChanges() const override;
  // The USB port path of the node's USB device, from sysfs ("1-1.3"); the node's path without one.
  std::string PortOf(const std::string& path) override;

  // The last error, "open /dev/hidraw3: Permission denied ...", for whoever wants to show it.
  std::string LastError() const { return diagnostics_->LastError(); }

 private:
  bool RealSystem() const;

  std::string sysfsRoot_;
  std::string devRoot_;
  std::shared_ptr<LinuxHidDiagnostics> diagnostics_;
  mutable std::mutex monitorMutex_;
  std::unique_ptr<DeviceMonitor> monitor_;
};

// What an operator is told when a board's node cannot be opened for lack of rights.
std::string PermissionDeniedMessage(const std::string& path, const std::string& systemError);

}  // namespace kt
