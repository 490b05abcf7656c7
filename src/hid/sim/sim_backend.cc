#include <mutex>

#include "hid/chip_registers.h"
#include "hid/sim/sim_board.h"
#include "hid/sim/sim_eeprom_file.h"

namespace kt {
namespace {

class SimInterfaceList final : public HidInterfaceList {
 public:
  SimInterfaceList(bool plugged, std::string path) : plugged_(plugged), path_(std::move(path)) {}

  HidEnumStep Next(std::uint32_t index, std::string& path) override {
    if (!plugged_ || index != 0) return HidEnumStep::kEnd;
    path = path_;
    return HidEnumStep::kInterface;
  }

 private:
  bool plugged_;  // the list is a snapshot, as the system's list is
  std::string path_;
};

class SimHandle final : public HidDeviceHandle {
 public:
  SimHandle(std::shared_ptr<SimBoard> board, std::uint64_t id) : board_(std::move(board)), id_(id) {}

  ~SimHandle() override {
    CancelRead();
    board_->CloseHandle(id_);
  }

  bool GetAttributes(HidAttributes& out) override {
    if (!Alive()) return false;
    out.vendorId = kKtVendorId;
    out.productId = board_->productId();
    return true;
  }

  bool GetCaps(HidCaps& out) override {
    if (!Alive()) return false;
    out.inputReportByteLength = SimBoard::kInputReportLength;
    out.outputReportByteLength = SimBoard::kOutputReportLength;
    out.outputValueCaps = {HidValueCaps{SimBoard::kOutputUsagePage, SimBoard::kReportId}};
    return true;
  }

  bool WriteReport(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
    written = 0;
    if (!board_->Receive(id_, data, length)) return false;
    written = length;
    return true;
  }

  HidReadResult ReadReport(std::uint8_t* buffer, std::size_t capacity, std::uint32_t timeoutMs) override {
    std::lock_guard<std::mutex> reading(readMutex_);
    return board_->Deliver(id_, buffer, capacity, timeoutMs);
  }

  void CancelWrite() override { board_->CancelWrite(id_); }

  // Returns only once no read of this handle is running any more.
  void CancelRead() override {
    board_->CancelRead(id_);
    std::lock_guard<std::mutex> reading(readMutex_);
  }

 private:
  bool Alive() const { return board_->HandleAlive(id_); }

  std::shared_ptr<SimBoard> board_;
  std::uint64_t id_;
  std::mutex readMutex_;  // held while a read runs, so that cancelling can wait for it
};

}  // namespace

SimBackend::SimBackend(const SimOptions& options, Clock& clock, ReportTrace* trace, std::string path)
    : path_(std::move(path)), eepromFile_(options.eepromFile) {
  std::vector<std::uint8_t> saved;
  const EepromFileLoad load = eepromFile_.empty()
                                  ? EepromFileLoad::kMissing
                                  : LoadEepromFile(eepromFile_, SimBoard::kEepromSize, saved, loadError_);
  if (load == EepromFileLoad::kLoaded) {
    // The board boots from what was saved, so it must hold it before it is plugged in.
    board_ = std::make_shared<SimBoard>(options, clock, trace, saved);
  } else {
    board_ = std::make_shared<SimBoard>(options, clock, trace);
  }
}

SimBackend::~SimBackend() {
  std::string error;
  if (!eepromFile_.empty() && loadError_.empty()) SaveEeprom(error);
}

bool SimBackend::SaveEeprom(std::string& error) {
  if (eepromFile_.empty()) {
    error = "no EEPROM file was given";
    return false;
  }
  return SaveEepromFile(eepromFile_, board_->Eeprom(), error);
}

std::unique_ptr<HidInterfaceList> SimBackend::ListInterfaces() {
  return std::make_unique<SimInterfaceList>(board_->plugged(), path_);
}

std::unique_ptr<HidDeviceHandle> SimBackend::Open(const std::string& path, HidOpenMode mode) {
  if (path != path_) return nullptr;
  const std::uint64_t id = board_->OpenHandle(mode == HidOpenMode::kOverlappedRead);
  if (id == 0) return nullptr;
  return std::make_unique<SimHandle>(board_, id);
}

HidBackend::DeviceChangeListener ListenerAtPort(HidBackend::DeviceChangeListener listener, std::string port) {
  if (!listener) return {};
  return [listener = std::move(listener), port = std::move(port)](const DeviceChange& change) {
    listener(DeviceChange{change.arrived, port});
  };
}

void SimBackend::SetDeviceChangeListener(DeviceChangeListener listener) {
  board_->SetDeviceChangeListener(ListenerAtPort(std::move(listener), PortOf(path_)));
}

}  // namespace kt
