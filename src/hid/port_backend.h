#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/hid_backend.h"

namespace kt {

// Hands one backend's device-change notifications to many listeners (the boards of a station).
class DeviceChangeHub {
 public:
  explicit DeviceChangeHub(HidBackend& backend);
  ~DeviceChangeHub();

  // `key` names the subscription; an empty listener ends it.
  void Subscribe(const void* key, HidBackend::DeviceChangeListener listener);

 private:
  HidBackend& backend_;
  std::mutex mutex_;
  std::map<const void*, HidBackend::DeviceChangeListener> listeners_;
};

// One port of a station: the shared backend's interfaces whose PortOf is `port`, whatever paths the board
// there has been given across its re-plugs. Device changes are passed on as they come, whichever port
// they concern: a removal cannot be placed once the device has gone, and by the time an event is handled
// the board may already be back, so whoever waits for this port looks at the port itself after each one.
class PortBackend final : public HidBackend {
 public:
  PortBackend(HidBackend& shared, DeviceChangeHub& hub, std::string port);
  ~PortBackend() override;

  // The port's present interfaces, in the shared backend's order.
  std::vector<std::string> Paths();

  std::string Name() const override { return shared_.Name() + " port " + port_; }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;
  void SetDeviceChangeListener(DeviceChangeListener listener) override;
  bool ReportsDeviceChanges() const override { return shared_.ReportsDeviceChanges(); }
  std::string PortOf(const std::string& path) override { return shared_.PortOf(path); }

 private:
  HidBackend& shared_;
  DeviceChangeHub& hub_;
  std::string port_;
};

// Every present interface of `backend` by port, in the order the ports first appear.
std::vector<std::pair<std::string, std::vector<std::string>>> InterfacesByPort(HidBackend& backend);

}  // namespace kt
