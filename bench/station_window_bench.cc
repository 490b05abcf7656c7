// The station window's reaction to a board: from the moment a board is plugged in to the moment its tile
// says "writing", through the command line's station and the tiles the window draws from, on 16
// simulated boards in real time. Prints `name value unit` lines. Usage: station_window_bench [ROUNDS]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "app/station_window/station_session.h"
#include "app/station_window/station_tiles.h"

namespace {

constexpr int kBoards = 16;
using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  kt::StationTiles tiles({});
  std::mutex mutex;
  std::condition_variable changed;
  tiles.SetChangeHandler([&] {
    std::lock_guard<std::mutex> lock(mutex);
    changed.notify_all();
  });
  kt::WindowOptions options;
  options.station = true;
  options.simulate = "boards=" + std::to_string(kBoards) + ",blank";
  kt::StationSession session(options, tiles);
  session.Start(nullptr);
  // Waits for `done` over the tiles, at most a minute: a station that never gets there fails the bench.
  const auto await = [&](const auto& done) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::minutes(1), [&] { return done(tiles.Take()); });
  };
  const auto succeeded = [](int count) {
    return [count](const kt::StationTiles::Snapshot& s) { return s.header.succeeded >= count; };
  };
  if (!await(succeeded(kBoards))) {
    std::puts("FAILED the first 16 boards");
    return 1;
  }
  std::vector<double> plugToTile;
  for (int round = 0; round < rounds; ++round) {
    const std::string port = "sim-" + std::to_string(round % kBoards + 1);
    const Clock::time_point plugged = Clock::now();
    session.ReplugSimulated(port);
    const bool started = await([&](const kt::StationTiles::Snapshot& s) {
      return std::any_of(s.tiles.begin(), s.tiles.end(), [&](const kt::Tile& t) {
        return t.port == port && t.state == kt::TileState::kWriting;
      });
    });
    const Clock::time_point shown = Clock::now();
    if (!started || !await(succeeded(kBoards + round + 1))) {
      std::printf("FAILED round %d\n", round);
      return 1;
    }
    plugToTile.push_back(std::chrono::duration<double, std::milli>(shown - plugged).count());
  }
  session.Stop();
  std::sort(plugToTile.begin(), plugToTile.end());
  std::printf("station_plug_to_tile_ms %.2f\n", plugToTile[plugToTile.size() / 2]);
  std::printf("station_plug_to_tile_max_ms %.2f\n", plugToTile.back());
  std::printf("station_plug_to_tile_runs %d\n", rounds);
  return 0;
}
