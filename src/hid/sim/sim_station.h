#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hid/sim/sim_board.h"

namespace kt {

// A station of simulated boards: options.boards independent boards, board K at path "sim:kt7310-K" on
// port "sim-K", each with its own EEPROM, request count and re-plug (SimOptionsForBoard).
class SimStationBackend final : public HidBackend {
 public:
  SimStationBackend(const SimOptions& options, Clock& clock, ReportTrace* trace = nullptr);

  SimBackend& board(std::size_t index) { return *boards_[index]; }
  std::size_t size() const { return boards_.size(); }
  // The first board's EEPROM file that could not be loaded, or empty.
  std::string loadError() const;

  std::string Name() const override { return "simulated station of " + std::to_string(boards_.size()); }
  std::unique_ptr<HidInterfaceList> ListInterfaces() override;
  std::unique_ptr<HidDeviceHandle> Open(const std::string& path, HidOpenMode mode) override;
  void SetDeviceChangeListener(DeviceChangeListener listener) override;
  bool ReportsDeviceChanges() const override { return true; }
  std::string PortOf(const std::string& path) override;

 private:
  std::vector<std::string> paths_;
  std::vector<std::unique_ptr<SimBackend>> boards_;
};

}  // namespace kt
