#pragma once

#include <cstdint>
#include <string>

#include "app/station_window/station_tiles.h"

namespace kt {

// What the station window shows, in words and colours, the same on every platform. The window's parts
// have control IDs, so that a check from outside (or a screen reader) finds them by number.
inline constexpr char kStationTitle[] = "KT7310 Write EEPROM (MP) Station";
namespace station_ctl {
inline constexpr int kExit = 1;  // also IDOK
inline constexpr int kImage = 4001;
inline constexpr int kRecord = 4002;
inline constexpr int kCounts = 4003;
inline constexpr int kSimulated = 4004;
inline constexpr int kMessage = 4005;
inline constexpr int kTileBase = 5000;    // tile i: kTileBase + i
inline constexpr int kReplugBase = 6000;  // tile i's re-plug button (simulated boards only)
}  // namespace station_ctl

inline constexpr char kSimulatedBoardsText[] = "SIMULATED BOARDS: no real board is touched";
inline constexpr char kReplugButtonText[] = "Re-plug";

// "Image: built-in  SHA-256 0123456789ab  firmware 0x6087" (with " (EVB IDs)" after the name with them).
std::string ImageLine(const StationHeader& header);
// "Record: FILE", or "Record: none".
std::string RecordLine(const StationHeader& header);
// "Succeeded: S  Failed: F", and "  Not recorded: N" when some were not.
std::string CountsLine(const StationHeader& header);
// The tile's label, a line break, then its state in words.
std::string TileText(const Tile& tile);
// Asked before Exit stops boards at work.
std::string ExitQuestion(int running);
// The header's message while Exit waits for the station to stop its boards.
inline constexpr char kStoppingText[] = "stopping...";
// The box of a station that ended without Exit (it could not start, or could not go on): what it wrote on
// its standard error, else its last message, then its exit status.
std::string StationEndedText(const std::string& errors, const StationHeader& header, int status);
// The box of a refused --slots file: ReadSlotsFile's reason under the option's name.
std::string SlotsRefusedText(const std::string& reason);

struct Rgb {
  std::uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};
// A tile's background: grey empty, blue at work, green OK, red for anything that is not.
Rgb TileColour(TileState state);

}  // namespace kt
