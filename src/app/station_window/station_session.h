#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/station_window/station_tiles.h"
#include "app/window_command_line.h"

namespace kt {

class SimStationBackend;

// The station behind the station window: the command line's `station --watch`, run in this process with
// the window's options, its boards reported to the tiles instead of the console. Nothing of the station
// is done twice: the window is one more front-end of the same board driver.
class StationSession {
 public:
  StationSession(const WindowOptions& options, StationTiles& tiles);
  // Stops the station and waits for it, if it still runs.
  ~StationSession();
  StationSession(const StationSession&) = delete;
  StationSession& operator=(const StationSession&) = delete;

  // The command line the station runs with (after the program name).
  static std::vector<std::string> StationArguments(const WindowOptions& options);

  // Runs the station on a thread of its own; `finished` is called on that thread once it has returned and
  // its exit status and errors can be read.
  void Start(std::function<void()> finished);
  // Exit: the running boards stop as Exit stops a job, their results are recorded, no new board is taken.
  void Stop();
  // Whether a signal (SIGINT, SIGTERM) stopped the station.
  bool Signalled() const { return signalled_.load(); }
  // The station's exit status, and what it wrote on its standard error, once it has finished.
  int ExitStatus() const;
  std::string Errors() const;

  // Unplugs and plugs again the simulated board at `port`, as an operator would a real one. False when
  // the boards are not simulated or no board is there.
  bool ReplugSimulated(const std::string& port);

 private:
  void Run(std::function<void()> finished);

  WindowOptions options_;
  StationTiles& tiles_;
  std::thread thread_;
  mutable std::mutex mutex_;
  std::function<void()> interrupt_;
  bool stopRequested_ = false;
  std::atomic<bool> signalled_{false};
  int status_ = 0;
  std::string errors_;
  SimStationBackend* simulatedBackend_ = nullptr;  // the run's, with simulated boards
  SimStationBackend* simulated_ = nullptr;         // the same, only while the station runs
};

}  // namespace kt
