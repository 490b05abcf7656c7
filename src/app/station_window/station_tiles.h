#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "app/cli/station.h"

namespace kt {

// What a station tile says about its slot.
enum class TileState {
  kEmpty,        // no board has been written there yet
  kWriting,      // with its percentage
  kReplug,       // erased: waiting for the board to come back
  kOk,           // "Write to EEPROM OK!"
  kFailed,       // the failure's own text, with its number
  kNotRecorded,  // a result the record could not take
  kStuck,        // given up inside a device call
};

// Whether a tile in this state shows a result (it stays until the next board in the slot).
bool IsResult(TileState state);

struct Tile {
  std::string port;
  std::string label;  // the slot's name, or the port
  TileState state = TileState::kEmpty;
  int percent = 0;
  std::string text;  // the words under the label
};

// What the window shows above the tiles.
struct StationHeader {
  std::string image;     // the file name, or "built-in"
  std::string sha12;     // the image's SHA-256, first 12 hex digits
  std::string firmware;  // "0x6087", or "none"
  std::string record;    // the record file, or "none"
  bool simulated = false;
  bool evbIds = false;
  int succeeded = 0;
  int failed = 0;
  int notRecorded = 0;
  std::string message;  // the station's last error or note
};

// A slot named in --slots: its port and its label.
using Slot = std::pair<std::string, std::string>;

// The station's boards as tiles: a StationView the station reports to from its threads, read by the window
// as a snapshot. The slots file's tiles come first, in its order, from the start; then every other port
// that has had a board, in natural order ("sim-2" before "sim-10"). A slot's tile never moves.
class StationTiles final : public StationView {
 public:
  explicit StationTiles(const std::vector<Slot>& slots);

  // Called after every change, from the thread that made it (the window posts itself a redraw).
  void SetChangeHandler(std::function<void()> changed);
  // Called with each board's result once it is recorded: true for "Write to EEPROM OK!".
  void SetResultHandler(std::function<void(bool ok)> result);

  struct Snapshot {
    StationHeader header;
    std::vector<Tile> tiles;
    int running = 0;  // jobs started and not yet ended
  };
  Snapshot Take() const;

  void Begin(const StationFacts& facts) override;
  void JobStarted(const std::string& port) override;
  void Box(const std::string& port, const std::string& text, const std::string& caption, MessageIcon icon,
           StationBox kind) override;
  void Progress(const std::string& port, int position) override;
  void Result(const JobOutcome& outcome) override;
  void Summary(int succeeded, int failed, int notRecorded, int status) override;
  void Note(const std::string& text) override;
  void Error(const std::string& text) override;
  bool OutputLost() override { return false; }

 private:
  // Called with mutex_ held.
  Tile& TileAt(const std::string& port);
  void Changed();

  mutable std::mutex mutex_;
  StationHeader header_;
  std::vector<Tile> tiles_;
  std::size_t slotCount_ = 0;  // the first tiles are the slots file's
  int running_ = 0;
  std::function<void()> changed_;
  std::function<void(bool)> result_;
};

}  // namespace kt
