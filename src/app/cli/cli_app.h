#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/console_window.h"
#include "app/cli/station.h"
#include "hid/hid_backend.h"

namespace kt {

// How long a job may give no sign of life (no box, no progress step) before the command line gives up
// on it with exit status 25. Far beyond the longest silence of a job that is still working: a transfer's
// answer waits are bounded at a few seconds each.
inline constexpr std::uint32_t kJobQuietBoundMs = 300000;

// What a test puts in place of the process's own surroundings.
struct CliHooks {
  // Used instead of the platform's backend or the simulated board.
  std::unique_ptr<HidBackend> backend;
  // Wraps whichever backend the run chose.
  std::function<std::unique_ptr<HidBackend>(std::unique_ptr<HidBackend>)> wrapBackend;
  // Called when the run gives up on a job that gave no sign of life, before the job is stopped.
  std::function<void()> onGiveUp;
  std::uint32_t quietBoundMs = kJobQuietBoundMs;
  // With --simulate=virtual-time: how long, in real time, a virtual wait waits for another thread.
  std::uint32_t virtualWaitBoundMs = 20000;
  // Given the run's interrupt (what Ctrl-C does) once the job can be interrupted.
  std::function<void(std::function<void()> interrupt)> takeInterrupt;
  // `station`'s boards are shown here instead of on the console (the station window).
  StationView* stationView = nullptr;
  // Called when Ctrl-C or SIGTERM (CTRL_C_EVENT and the like on Windows) reaches the station, before it
  // stops.
  std::function<void()> onSignal;
};

// kt7310-eeprom without its process: `args` are the arguments after the program name. Returns the exit
// status.
int RunCli(const std::vector<std::string>& args, ConsoleIo& io);
int RunCli(const std::vector<std::string>& args, ConsoleIo& io, CliHooks hooks);

}  // namespace kt
