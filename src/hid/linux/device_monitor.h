#pragma once

#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "hid/hid_backend.h"
#include "hid/linux/unique_fd.h"

namespace kt {

// A source of device arrivals and removals that can be waited on with poll().
class DeviceEventSource {
 public:
  virtual ~DeviceEventSource() = default;
  virtual int Fd() const = 0;
  // Takes one pending event: an arrival or a removal, nothing for any other event (or none at all).
  virtual std::optional<DeviceChange> Receive() = 0;
};

// Watches a source on its own thread and calls the listener for every arrival and removal. The thread
// sleeps in poll() on the source and on an eventfd that the destructor signals; the destructor then
// joins it, so the listener is never called after the monitor is gone. The listener runs on the monitor
// thread: it must hand the news on without waiting for the thread that destroys the monitor.
class DeviceMonitor {
 public:
  DeviceMonitor(std::unique_ptr<DeviceEventSource> source, HidBackend::DeviceChangeListener listener);
  ~DeviceMonitor();
  DeviceMonitor(const DeviceMonitor&) = delete;
  DeviceMonitor& operator=(const DeviceMonitor&) = delete;

  // False when the stop eventfd could not be made; the monitor then watches nothing.
  bool Running() const { return thread_.joinable(); }

 private:
  void Run();

  std::unique_ptr<DeviceEventSource> source_;
  HidBackend::DeviceChangeListener listener_;
  UniqueFd stop_;
  std::thread thread_;
};

// The udev monitor: USB devices coming and going, and hidraw nodes coming and going. The hidraw events
// matter because udev sends the USB device's "add" before the board's hidraw node exists and has its
// permissions; a probe run on that event alone would miss the board. Each change carries the USB port from
// the event's device path (for a node without a USB device, the node itself, as the backend names its
// port). Null (with the reason) when there is no udev to listen to.
std::unique_ptr<DeviceEventSource> CreateUdevEventSource(std::string& error);

}  // namespace kt
