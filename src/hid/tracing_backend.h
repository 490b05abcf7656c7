#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "hid/hid_backend.h"
#include "hid/report_trace.h"

namespace kt {

// Wraps any backend and writes every output report written and every input report read to a trace, so
// a run against a real board can be read back as well as one against the simulated board. Failed writes
// and read time-outs become event lines. The trace must outlive the backend and its handles.
class TracingBackend final : public HidBackend {
 public:
  TracingBackend(std::unique_ptr<HidBackend> inner, ReportTrace& trace);

  HidBackend& inner() { return *inner_; }

  std::string Name() const override { return inner_->Name(); }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override { return inner_->ListInterfaces(); }
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;
  void SetDeviceChangeListener(DeviceChangeListener listener) override;
  bool ReportsDeviceChanges() const override { return inner_->ReportsDeviceChanges(); }
  std::string PortOf(const std::string& path) override { return inner_->PortOf(path); }

 private:
  class Handle;
  friend class Handle;

  // A read that completes with byte count 0 (Windows: still pending when ReadFile returned) holds an
  // input report of the device's input length; that length is learnt from any handle's GetCaps.
  void RememberInputLength(const std::string& path, std::uint16_t length);
  std::uint16_t InputLength(const std::string& path);

  std::unique_ptr<HidBackend> inner_;
  ReportTrace& trace_;
  std::mutex mutex_;
  std::map<std::string, std::uint16_t> inputLengths_;
};

}  // namespace kt
