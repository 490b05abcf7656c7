#include "hid/port_backend.h"

#include <algorithm>

#include "hid/hid_link.h"
#include "hid/path_list.h"

namespace kt {

DeviceChangeHub::DeviceChangeHub(HidBackend& backend) : backend_(backend) {
  // The listeners run under the lock, so that once Subscribe(key, nullptr) has returned, that listener
  // (and the object it belongs to) is never called again. No listener subscribes from inside a call.
  backend_.SetDeviceChangeListener([this](const DeviceChange& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, listener] : listeners_) listener(change);
  });
}

DeviceChangeHub::~DeviceChangeHub() {
  backend_.SetDeviceChangeListener(nullptr);
}

void DeviceChangeHub::Subscribe(const void* key, HidBackend::DeviceChangeListener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (listener) {
    listeners_[key] = std::move(listener);
  } else {
    listeners_.erase(key);
  }
}

std::vector<std::pair<std::string, std::vector<std::string>>> InterfacesByPort(HidBackend& backend) {
  std::vector<std::pair<std::string, std::vector<std::string>>> ports;
  const std::unique_ptr<HidInterfaceList> list = backend.ListInterfaces();
  for (std::uint32_t index = 0; list && index < kMaxHidInterfaces; ++index) {
    std::string path;
    const HidEnumStep step = list->Next(index, path);
    if (step == HidEnumStep::kEnd) break;
    if (step == HidEnumStep::kSkip) continue;
    const std::string port = backend.PortOf(path);
    auto at =
        std::find_if(ports.begin(), ports.end(), [&](const auto& entry) { return entry.first == port; });
    if (at == ports.end()) at = ports.insert(ports.end(), {port, {}});
    at->second.push_back(path);
  }
  return ports;
}

PortBackend::PortBackend(HidBackend& shared, DeviceChangeHub& hub, std::string port)
    : shared_(shared), hub_(hub), port_(std::move(port)) {}

PortBackend::~PortBackend() {
  hub_.Subscribe(this, nullptr);
}

std::vector<std::string> PortBackend::Paths() {
  for (auto& [port, paths] : InterfacesByPort(shared_)) {
    if (port == port_) return paths;
  }
  return {};
}

std::unique_ptr<HidInterfaceList> PortBackend::ListInterfaces() {
  return std::make_unique<PathList>(Paths());
}

std::unique_ptr<HidDeviceHandle> PortBackend::Open(const std::string& path, HidOpenMode mode) {
  return shared_.PortOf(path) == port_ ? shared_.Open(path, mode) : nullptr;
}

void PortBackend::SetDeviceChangeListener(DeviceChangeListener listener) {
  hub_.Subscribe(this, std::move(listener));
}

}  // namespace kt
