#include "app/station_window/station_session.h"

#include <sstream>
#include <utility>

#include "app/cli/cli_app.h"
#include "hid/sim/sim_station.h"

namespace kt {

StationSession::StationSession(const WindowOptions& options, StationTiles& tiles)
    : options_(options), tiles_(tiles) {}

StationSession::~StationSession() {
  Stop();
  if (thread_.joinable()) thread_.join();
}

std::vector<std::string> StationSession::StationArguments(const WindowOptions& options) {
  // Quiet: the notes (the image's hash, ...) are the header's; what stays on standard error is the
  // errors, which the window shows when the station cannot start.
  std::vector<std::string> args = {"station", "--watch", "--quiet"};
  if (options.recordFile) args.insert(args.end(), {"--record", *options.recordFile});
  if (options.imageFile) args.insert(args.end(), {"--image", *options.imageFile});
  if (options.useEvbIds) args.push_back("--evb-ids");
  if (options.simulate) args.push_back("--simulate=" + *options.simulate);
  return args;
}

void StationSession::Start(std::function<void()> finished) {
  thread_ = std::thread([this, finished = std::move(finished)] { Run(finished); });
}

void StationSession::Stop() {
  std::function<void()> interrupt;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = true;
    interrupt = interrupt_;
  }
  if (interrupt) interrupt();
}

int StationSession::ExitStatus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return status_;
}

std::string StationSession::Errors() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return errors_;
}

bool StationSession::ReplugSimulated(const std::string& port) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (simulated_ == nullptr) return false;
  for (std::size_t i = 0; i < simulated_->size(); ++i) {
    if (port != "sim-" + std::to_string(i + 1)) continue;
    SimBoard& board = simulated_->board(i).board();
    board.Unplug();
    board.Plug();
    return true;
  }
  return false;
}

void StationSession::Run(std::function<void()> finished) {
  std::ostringstream out, err;
  std::istringstream in;
  ConsoleIo io{out, err, in};
  CliHooks hooks;
  hooks.stationView = &tiles_;
  hooks.onSignal = [this] { signalled_.store(true); };
  hooks.takeInterrupt = [this](std::function<void()> interrupt) {
    bool stopNow = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      interrupt_ = interrupt;
      stopNow = stopRequested_ && interrupt_;
      // The boards can be re-plugged while the station runs, never once it is over: the backend goes
      // with the run.
      simulated_ = interrupt_ ? simulatedBackend_ : nullptr;
    }
    // Exit pressed before the station could take it.
    if (stopNow) interrupt();
  };
  hooks.wrapBackend = [this](std::unique_ptr<HidBackend> backend) {
    std::lock_guard<std::mutex> lock(mutex_);
    simulatedBackend_ = dynamic_cast<SimStationBackend*>(backend.get());
    return backend;
  };
  const int status = RunCli(StationArguments(options_), io, std::move(hooks));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    simulated_ = simulatedBackend_ = nullptr;
    interrupt_ = nullptr;
    status_ = status;
    errors_ = err.str();
  }
  if (finished) finished();
}

}  // namespace kt
