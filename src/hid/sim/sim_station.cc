#include "hid/sim/sim_station.h"

#include "hid/path_list.h"

namespace kt {
namespace {

constexpr char kPathPrefix[] = "sim:kt7310-";
constexpr char kPortPrefix[] = "sim-";

}  // namespace

SimStationBackend::SimStationBackend(const SimOptions& options, Clock& clock, ReportTrace* trace) {
  for (std::uint32_t k = 1; k <= options.boards; ++k) {
    paths_.push_back(kPathPrefix + std::to_string(k));
    boards_.push_back(
        std::make_unique<SimBackend>(SimOptionsForBoard(options, k), clock, trace, paths_.back()));
  }
}

std::string SimStationBackend::loadError() const {
  for (const auto& board : boards_) {
    if (!board->loadError().empty()) return board->loadError();
  }
  return std::string();
}

std::unique_ptr<HidInterfaceList> SimStationBackend::ListInterfaces() {
  std::vector<std::string> present;
  for (std::size_t i = 0; i < boards_.size(); ++i) {
    if (boards_[i]->board().plugged()) present.push_back(paths_[i]);
  }
  return std::make_unique<PathList>(std::move(present));
}

std::unique_ptr<HidDeviceHandle> SimStationBackend::Open(const std::string& path, HidOpenMode mode) {
  for (std::size_t i = 0; i < boards_.size(); ++i) {
    if (paths_[i] == path) return boards_[i]->Open(path, mode);
  }
  return nullptr;
}

void SimStationBackend::SetDeviceChangeListener(DeviceChangeListener listener) {
  for (std::size_t i = 0; i < boards_.size(); ++i) {
    boards_[i]->SetDeviceChangeListener(ListenerAtPort(listener, PortOf(paths_[i])));
  }
}

std::string SimStationBackend::PortOf(const std::string& path) {
  if (!path.starts_with(kPathPrefix)) return path;
  return kPortPrefix + path.substr(sizeof(kPathPrefix) - 1);
}

}  // namespace kt
